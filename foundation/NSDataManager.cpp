#include "NSDataManager.h"

namespace NSUI
{

namespace
{

const char* const kTickKey = "_nsDataManager";
constexpr float kTickInterval = 1.0f;
constexpr float kFirstTickDelay = 0.5f;

NSDataManager* s_manager = nullptr;

cocos2d::Scheduler* scheduler()
{
    return cocos2d::Director::getInstance()->getScheduler();
}

} // namespace

NSDataManager* NSDataManager::getInstance()
{
    if (!s_manager)
    {
        s_manager = new NSDataManager();
        s_manager->init();
        s_manager->autorelease();
        s_manager->retain();
    }
    return s_manager;
}

NSDataManager* NSDataManager::peekInstance()
{
    return s_manager;
}

void NSDataManager::destroyInstance()
{
    NSDataManager* manager = s_manager;
    s_manager = nullptr;
    if (manager)
    {
        manager->clear();
        manager->release();
    }
}

NSDataManager::~NSDataManager()
{
    clear();
}

bool NSDataManager::init()
{
    _scheduled = false;
    return true;
}

void NSDataManager::clear()
{
    for (NSDatas* source : _sources)
        source->cancelRequests();
    std::vector<NSDatas*> sources;
    sources.swap(_sources);
    for (NSDatas* source : sources)
        source->release();
    setEnabled(false);
}

void NSDataManager::setEnabled(bool enabled)
{
    if (enabled == _scheduled)
        return;
    if (enabled)
        scheduler()->schedule([this](float dt) { update(dt); }, this, kTickInterval, CC_REPEAT_FOREVER,
                              kFirstTickDelay, false, kTickKey);
    else
        scheduler()->unschedule(kTickKey, this);
    _scheduled = enabled;
}

void NSDataManager::addSource(NSDatas* source)
{
    if (!source)
        return;
    source->retain();
    _sources.push_back(source);
}

void NSDataManager::update(float dt)
{
    // By index: a source's update may add another source (which then ticks at once) or clear the list.
    for (size_t i = 0; i < _sources.size(); ++i)
        _sources[i]->update(dt);
}

} // namespace NSUI
