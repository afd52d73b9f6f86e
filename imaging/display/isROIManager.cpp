#include "isROIManager.h"

#include "isImagingShutdown.h"

#include <algorithm>

namespace isImageSDK {

namespace {
isROIManager* g_roiManager = nullptr;
} // namespace

isROIManager* isROIManager::getInstance()
{
    if (!g_roiManager) {
        isROIManager* manager = createAutoreleased<isROIManager>();
        if (!manager)
            return nullptr;
        manager->retain();
        g_roiManager = manager;
        setImagingShutdownStep(SHUTDOWN_MEASUREMENTS, [] { isROIManager::destroyInstance(); });
    }
    return g_roiManager;
}

isROIManager* isROIManager::peekInstance()
{
    return g_roiManager;
}

void isROIManager::destroyInstance()
{
    if (!g_roiManager)
        return;
    isROIManager* manager = g_roiManager;
    g_roiManager = nullptr;
    manager->clear();
    manager->release();
}

isROIManager::~isROIManager()
{
    isROIManager::clear();
}

void isROIManager::clear()
{
    std::vector<ROIData*> records;
    records.swap(m_rois);
    for (ROIData* record : records)
        record->release();
}

void isROIManager::addROI(ROIData* record)
{
    if (!record || containsROI(record))
        return;
    record->retain();
    m_rois.push_back(record);
}

bool isROIManager::removeROI(ROIData* record)
{
    auto it = std::find(m_rois.begin(), m_rois.end(), record);
    if (it == m_rois.end())
        return false;
    m_rois.erase(it);
    record->release();
    return true;
}

bool isROIManager::containsROI(const ROIData* record) const
{
    return std::find(m_rois.begin(), m_rois.end(), record) != m_rois.end();
}

} // namespace isImageSDK
