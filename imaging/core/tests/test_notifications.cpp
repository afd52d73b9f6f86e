// What the imaging data classes announce: the low-memory notification of the image
// container and the window notification of the colour table, delivered through the real
// notification centre on a headless director.
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"
#include "isClut.h"
#include "isImageData.h"
#include "purgeServices.h"
#include "support/ImageFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace isImageSDK;

namespace {

struct Listener : cocos2d::Ref {
    struct Received {
        cocos2d::Ref* sender;
        std::string text;
    };
    std::vector<Received> received;
    NSUI::NSNotificationCallback callback()
    {
        return [this](cocos2d::Ref* sender, unsigned int, NSUI::NSNotificationData* data) {
            received.push_back({sender, data ? data->text : std::string()});
        };
    }
};

class ImagingNotifications : public ::testing::Test {
protected:
    void SetUp() override { cocos2d::Director::getInstance(); }
    void TearDown() override
    {
        NSUI::NSNotificationCenter::getInstance()->removeObserver(&listener);
        purgeServices();
        frames(2);
        cocos2d::Director::destroyInstance();
    }
    // Steps past the centre's start delay, then one frame per normal notification.
    void frames(int n)
    {
        cocos2d::Director::getInstance()->stepFrame(0.5f);
        for (int i = 0; i < n; ++i)
            cocos2d::Director::getInstance()->stepFrame(1.0f / 60);
    }
    Listener listener;
};

} // namespace

TEST_F(ImagingNotifications, RefusedBuffersAnnounceLowMemoryOnce)
{
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    centre->addObserver(&listener, nullptr, listener.callback(), NOTIFY_MEMORY_LOW);
    {
        qvtest::PoolScope scope;
        auto* image = isImageData::create();
        const float sp[2] = {1, 1};
        const int tooBig[2] = {151844024, 1};
        EXPECT_EQ(image->addSlice(tooBig, 1, sp, PIXEL_FLOAT, 0, 0, cocos2d::Mat4()), nullptr);
        // A damaged size is a refusal too, but not a shortage of memory.
        const int damaged[2] = {0, 5};
        EXPECT_EQ(image->addSlice(damaged, 1, sp, PIXEL_U8, 0, 0, cocos2d::Mat4()), nullptr);
    }
    frames(3);
    ASSERT_EQ(listener.received.size(), 1u);
    EXPECT_EQ(listener.received[0].sender, nullptr);
}

TEST_F(ImagingNotifications, EveryWindowSettingIsAnnouncedInTheImageTypesFormat)
{
    int window = 0;
    auto* centre = NSUI::NSNotificationCenter::getInstance();
    centre->addObserver(&listener, &window, listener.callback(), NOTIFY_OVERLAY_WINDOW);
    isClut* clut = isClut::create();
    clut->retain();  // the frames below drain the autorelease pool
    clut->setContext(&window);
    clut->setPixelType(PIXEL_I16);
    clut->setWindow(40.7f, 40.2f);
    clut->setWindowInt(40, 40);  // unchanged: announced again all the same
    frames(4);
    ASSERT_EQ(listener.received.size(), 2u);
    for (const auto& r : listener.received) {
        EXPECT_EQ(r.sender, clut);
        EXPECT_EQ(r.text, "{\"ww\":\"40\",\"wl\":\"40\"}");
    }

    // Float images: one decimal, and a newer window replaces one still waiting.
    listener.received.clear();
    clut->setPixelType(PIXEL_FLOAT);
    clut->setWindow(10.0f, 5.0f);
    clut->setWindow(40.7f, 40.2f);
    frames(4);
    ASSERT_EQ(listener.received.size(), 1u);
    EXPECT_EQ(listener.received[0].text, "{\"ww\":\"40.7\",\"wl\":\"40.2\"}");

    // Another window's context does not hear it.
    listener.received.clear();
    int other = 0;
    clut->setContext(&other);
    clut->setWindowInt(1, 1);
    frames(2);
    EXPECT_TRUE(listener.received.empty());
    clut->release();
}
