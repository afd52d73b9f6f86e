#include "NSThreadSafeDestroy.h"

#include "NSThread.h"

#include "cocos2d.h"

namespace NSUI
{

void NSThreadSafeDestroy::safeDestroy(NSThread* thread)
{
    if (!thread)
        return;
    threadGone.store(false);
    thread->setOwnerLink(&threadMutex, &threadCondition, &threadGone);
    thread->stop();
    std::unique_lock<std::recursive_mutex> lock(threadMutex);
    threadCondition.wait(lock, [this] { return threadGone.load(); });
}

void NSThreadSafeDestroy::removePendingCompletions()
{
    cocos2d::Director::getInstance()->getScheduler()->removeFunctionInCocosThread(this);
}

} // namespace NSUI
