#include "NSDataManager.h"
#include "NSNotificationCenter.h"
#include "NSStringUtil.h"
#include "purgeServices.h"
#include "support/HeadlessFrames.h"

#include <string>
#include <vector>

using NSUI::NSDataManager;
using NSUI::NSDatas;

namespace
{

class CountingSource : public NSDatas
{
public:
    CountingSource(std::string name_, std::vector<std::string>* log_) : name(std::move(name_)), log(log_) {}
    void update(float) override { log->push_back(name); }
    void cancelRequests() override { log->push_back(name + ":cancel"); }

    std::string name;
    std::vector<std::string>* log;
};

class Target : public cocos2d::Ref
{
};

} // namespace

class DataManager : public HeadlessFrames
{
};

TEST_F(DataManager, TicksEverySecondAfterHalfASecondInOrder)
{
    std::vector<std::string> log;
    NSDataManager* manager = NSDataManager::getInstance();
    auto* first = new CountingSource("first", &log);
    auto* second = new CountingSource("second", &log);
    manager->addSource(first);
    manager->addSource(second);
    first->release();
    second->release();

    auto* scheduler = cocos2d::Director::getInstance()->getScheduler();
    manager->setEnabled(true);
    manager->setEnabled(true); // registered once
    EXPECT_TRUE(scheduler->isScheduled("_nsDataManager", manager));

    step(4, 0.1f); // 0.4 s
    EXPECT_TRUE(log.empty());
    step(1, 0.1f); // 0.5 s: the first tick
    EXPECT_EQ(log, (std::vector<std::string>{"first", "second"}));
    step(9, 0.1f); // 1.4 s
    EXPECT_EQ(log.size(), 2u);
    step(1, 0.1f); // 1.5 s
    EXPECT_EQ(log.size(), 4u);

    manager->setEnabled(false);
    EXPECT_FALSE(scheduler->isScheduled("_nsDataManager", manager));
    step(30, 0.1f);
    EXPECT_EQ(log.size(), 4u);
    NSDataManager::destroyInstance(); // before the log goes
}

TEST_F(DataManager, ClearCancelsAndReleasesEverySource)
{
    std::vector<std::string> log;
    NSDataManager* manager = NSDataManager::getInstance();
    auto* source = new CountingSource("s", &log);
    source->retain(); // watched by the test
    manager->addSource(source);
    EXPECT_EQ(source->getReferenceCount(), 3u);
    // Never enabled: clear only empties the list.
    manager->clear();
    EXPECT_EQ(log, (std::vector<std::string>{"s:cancel"}));
    EXPECT_TRUE(manager->getSources().empty());
    EXPECT_EQ(source->getReferenceCount(), 2u);
    EXPECT_FALSE(manager->isEnabled());

    manager->addSource(source);
    manager->setEnabled(true);
    manager->clear();
    EXPECT_FALSE(manager->isEnabled());
    EXPECT_FALSE(cocos2d::Director::getInstance()->getScheduler()->isScheduled("_nsDataManager", manager));
    source->release();
    source->release();
}

// The exit purge leaves no singleton, no pending payload and no formatter buffer behind.
TEST_F(DataManager, ExitPurgeReleasesTheServices)
{
    auto* center = NSUI::NSNotificationCenter::getInstance();
    auto* manager = NSDataManager::getInstance();
    step(); // the autorelease pool lets go; the process's own references remain
    EXPECT_EQ(center->getReferenceCount(), 1u);
    EXPECT_EQ(manager->getReferenceCount(), 1u);

    std::vector<std::string> log;
    auto* source = new CountingSource("s", &log);
    source->retain();
    manager->addSource(source);
    manager->setEnabled(true);

    Target target;
    auto* data = new NSUI::NSNotificationData();
    center->addObserver(
        &target, nullptr, [](cocos2d::Ref*, unsigned int, NSUI::NSNotificationData*) {}, 9001);
    center->postNotification(nullptr, 9001, data, nullptr, false);
    EXPECT_EQ(data->getReferenceCount(), 2u);
    formatString("%i", 1);

    purgeServices();
    EXPECT_EQ(NSUI::NSNotificationCenter::peekInstance(), nullptr);
    EXPECT_EQ(NSDataManager::peekInstance(), nullptr);
    EXPECT_FALSE(hasFormatBuffer());
    EXPECT_EQ(formatString("%s-%i", "a", 2), "a-2"); // a later format makes a new buffer
    EXPECT_EQ(data->getReferenceCount(), 1u);
    EXPECT_EQ(source->getReferenceCount(), 2u);
    EXPECT_EQ(log, (std::vector<std::string>{"s:cancel"}));
    EXPECT_FALSE(
        cocos2d::Director::getInstance()->getScheduler()->isScheduled("_NSNotificationCenter", center));
    data->release();
    source->release();
    source->release();
}
