#include "dcmTask.h"

#include "NSStringUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

const char* const kEllipsis = "\xE2\x80\xA6";

}  // namespace

std::string dcmGetingObject::shownText(const std::string& text, size_t maxBytes)
{
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    bool space = false;  // a space is owed before the next character shown
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const size_t begin = at;
        if (!decodeUtf8At(text, at, code)) continue;  // a stray byte is dropped
        // C0, DEL, C1 and the line and paragraph separators break no line here.
        if (code <= 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
            space = !out.empty();
        } else {
            if (space) out += ' ';
            space = false;
            out.append(text, begin, at - begin);
        }
        // Past the bound nothing more is needed to know the text is cut.
        if (out.size() > maxBytes) break;
    }
    if (out.size() <= maxBytes) return out;
    const size_t room = maxBytes < 3 ? 0 : maxBytes - 3;
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    out.resize(cut);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out + kEllipsis;
}

dcmSendingObject* dcmSendingObject::create(const std::string& address, const std::string& port,
                                           const std::string& name, const std::string& file)
{
    auto* task = new dcmSendingObject();
    task->address = address;
    task->port = port;
    task->name = name;
    task->file = file;
    task->autorelease();
    return task;
}

dcmGetingObject* dcmGetingObject::create(const std::vector<std::string>& f, int state)
{
    if (f.size() != kFieldCount && f.size() != kFailureFieldCount) return nullptr;
    auto* task = new dcmGetingObject();
    task->address = f[0];
    task->port = f[1];
    task->text1 = f[2];
    task->text2 = f[3];
    task->studyUID = f[4];
    task->seriesUID = f[5];
    task->saveFolder = f[6];
    task->patientName = f[7];
    task->seriesNumber = f[8];
    task->modality = f[9];
    task->state = state;
    task->setOutcome(f);
    task->autorelease();
    return task;
}

void dcmGetingObject::setOutcome(const std::vector<std::string>& f)
{
    if (f.size() != kFailureFieldCount) return;
    keptImages = std::atoi(f[10].c_str());
    seriesImages = std::atoi(f[11].c_str());
    // A series said to hold fewer images than arrived of it (a record of an earlier version, which
    // counted every file a peer sent) has no size known: "3 of 1" would say both are wrong.
    if (seriesImages < keptImages)
        seriesImages = 0;
    failureReason = shownText(f[12]);
}

std::vector<std::string> dcmGetingObject::fields() const
{
    return {address, port, text1, text2, studyUID, seriesUID, saveFolder, patientName, seriesNumber, modality};
}
