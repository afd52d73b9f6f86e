#include "HeadlessFrames.h"

#include "purgeServices.h"

#include <chrono>
#include <thread>

void HeadlessFrames::SetUp()
{
    cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(960, 640)));
}

void HeadlessFrames::TearDown()
{
    purgeServices();
    // Lets whatever the test left in the run-on-main queue and the autorelease pools go.
    step(2);
    cocos2d::Director::destroyInstance();
}

void HeadlessFrames::step(int n, float dt)
{
    for (int i = 0; i < n; ++i)
        cocos2d::Director::getInstance()->stepFrame(dt);
}

bool HeadlessFrames::stepUntil(const std::function<bool()>& pred, int maxFrames)
{
    const auto patience = std::chrono::steady_clock::now() + std::chrono::seconds(kPatienceSeconds);
    for (int i = 0; i < maxFrames || std::chrono::steady_clock::now() < patience; ++i)
    {
        if (pred())
            return true;
        step();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return pred();
}

void HeadlessFrames::passStartDelay()
{
    step(1, 0.5f);
}
