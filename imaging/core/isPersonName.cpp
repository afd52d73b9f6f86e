#include "isPersonName.h"

#include <vector>

namespace isImageSDK {

std::string displayPersonName(const std::string& stored)
{
    // Groups with their trailing empty components (and the "^" before them) dropped.
    std::vector<std::string> groups;
    size_t start = 0;
    while (true) {
        const size_t end = stored.find('=', start);
        std::string group = stored.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const size_t last = group.find_last_not_of('^');
        group.erase(last == std::string::npos ? 0 : last + 1);
        groups.push_back(std::move(group));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    while (!groups.empty() && groups.back().empty())
        groups.pop_back();
    std::string shown;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i > 0)
            shown += '=';
        shown += groups[i];
    }
    return shown;
}

} // namespace isImageSDK
