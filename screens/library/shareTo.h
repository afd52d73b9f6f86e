// shareTo: packs the folder of a patient or of a series into one zip archive under the working
// tree (qv/tmp/zip/<seconds since 1970>.zip), behind the busy overlay with a cancel button, then
// hands a mail with a fixed subject and body to the platform's mail operation. On this desktop
// the mail operation composes nothing, so the archive's path is shown instead.
//
// An invisible node: the calling screen creates it, adds it to itself and starts it; it removes
// itself when the job ends. The packing runs on a worker that reports by notification 2019 with
// the panel as context (0 success, -1 failure); the overlay's cancel (1003) sets the zip writer's
// cancel flag, which stops it before its next file.
//
// Main thread only.
#pragma once

#include "cocos2d.h"

#include <string>

namespace NSUI {
class NSNotificationData;
}

class shareTo : public cocos2d::Node {
public:
    static shareTo* create();
    ~shareTo() override;
    bool init() override;

    void start(std::string path, std::string name);
    void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    const std::string& getZipPath() const { return zipPath; }

    // Worker: packs source into archive; 0 when the archive exists and is not empty, else -1.
    static int zipJob(const std::string& archive, const std::string& source);

private:
    void showToast(const std::string& text, float seconds);

    std::string sourcePath;
    std::string name;
    std::string zipPath;
};
