// isROIManager: the process-wide list of measurement records, the only store of measurements.
// Created on first use; the imaging shutdown clears and releases it. Main thread only.
#pragma once

#include "isROIData.h"

#include <vector>

namespace isImageSDK {

class isROIManager : public cocos2d::Ref {
public:
    // The list, created on first use (and its shutdown step installed then).
    static isROIManager* getInstance();
    // The list when it exists, null otherwise.
    static isROIManager* peekInstance();
    // Clears and releases the list; a later getInstance makes a new one.
    static void destroyInstance();

    ~isROIManager() override;
    virtual bool init() { return true; }
    // Releases every record and empties the list.
    virtual void clear();

    // Appends and retains the record unless the very same object is already listed.
    void addROI(ROIData* record);
    // Erases and releases the first entry that is this very object; false when it is not listed.
    bool removeROI(ROIData* record);
    bool containsROI(const ROIData* record) const;
    // In the order the records were added.
    const std::vector<ROIData*>& getROIs() const { return m_rois; }

private:
    std::vector<ROIData*> m_rois;
};

} // namespace isImageSDK
