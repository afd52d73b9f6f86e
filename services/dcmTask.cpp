#include "dcmTask.h"

#include <cstdlib>

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
    failureReason = f[12];
}

std::vector<std::string> dcmGetingObject::fields() const
{
    return {address, port, text1, text2, studyUID, seriesUID, saveFolder, patientName, seriesNumber, modality};
}
