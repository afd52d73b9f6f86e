#include "isColourTable.h"

#include "NSDictionary.h"
#include "cocos2d.h"

#include <algorithm>
#include <cstdlib>

namespace isImageSDK {

const char* const kNoClutName = "noClut.plist";
const char* const kInverseClutName = "bwInverse.plist";
const char* const kPerfusionClutName = "Perfusion.plist";

void greyRamp(unsigned char table[768], bool inverted)
{
    for (int i = 0; i < 256; ++i)
        table[3 * i] = table[3 * i + 1] = table[3 * i + 2] = static_cast<unsigned char>(inverted ? 255 - i : i);
}

bool readColourTable(const std::string& name, unsigned char table[768])
{
    if (name == kNoClutName || name == kInverseClutName) {
        greyRamp(table, name == kInverseClutName);
        return true;
    }
    const std::string path = cocos2d::FileUtils::getInstance()->fullPathForFilename(name);
    NSUI::NSDictionary* dictionary = path.empty() ? nullptr : NSUI::NSDictionary::createWithContentsOfFile(path);
    if (!dictionary)
        return false;
    const bool swap = name == kPerfusionClutName;
    static const char* const keys[3] = {"Red", "Green", "Blue"};
    unsigned char read[768];
    for (int k = 0; k < 3; ++k) {
        auto* values = dynamic_cast<cocos2d::__Array*>(dictionary->objectForKey(keys[k]));
        if (!values || values->count() != 256)
            return false;
        const int channel = swap ? 2 - k : k;
        for (int i = 0; i < 256; ++i) {
            auto* text = dynamic_cast<cocos2d::__String*>(values->getObjectAtIndex(i));
            const int v = text ? std::atoi(text->getCString()) : 0;
            read[3 * i + channel] = static_cast<unsigned char>(std::clamp(v, 0, 255));
        }
    }
    std::copy(read, read + 768, table);
    return true;
}

} // namespace isImageSDK
