#include "dcmTask.h"

#include "NSStringUtil.h"

#include <cstdlib>

std::string dcmGetingObject::shownText(const std::string& text, size_t maxBytes)
{
    std::string shown = cleanOutsideText(text, maxBytes);
    // A row's texts stand beside others: no space at either end.
    shown.erase(0, shown.find_first_not_of(' '));
    shown.erase(shown.find_last_not_of(' ') + 1);
    return shown;
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
