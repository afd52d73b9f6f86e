// The volume actor in a headless window: frames queued from camera changes, best-quality frames
// after the view settles, the window and the volumes it takes.
#include "support/ActorRig.h"

#include "NSNotificationCenter.h"
#include "isActorManager.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace isImageSDK;

namespace {

class ActorVR : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.start();
        actor = isActorVR::create();
        ASSERT_NE(actor, nullptr);
        actor->retain();
        actor->attachRenderWindow(rig.window);
        volume = qvtest::cubeVolume();
        volume->retain();
    }
    void TearDown() override
    {
        if (actor) {
            actor->clear();
            actor->release();
        }
        volume->release();
        rig.stop();
    }
    bool settled()
    {
        return actor->getShownBestFrames() > 0 && actor->getShownInteractiveFrames() > 0;
    }

    qvtest::ActorRig rig;
    isActorVR* actor = nullptr;
    isImageData* volume = nullptr;
};

} // namespace

TEST_F(ActorVR, ABurstOfCameraChangesRendersOnlyTheRunningAndTheNewestFrame)
{
    actor->setVolume(volume);
    for (int i = 0; i < 10; ++i) {
        rig.look(0.05f * i);
        actor->refresh();
    }
    EXPECT_EQ(actor->getQueuedInteractiveFrames(), 10);
    ASSERT_TRUE(rig.stepUntil([&] { return settled(); }));
    EXPECT_LE(actor->getShownInteractiveFrames(), 2);
    EXPECT_EQ(actor->getShownBestFrames(), 1);
    // The sprite shows the frame, bottom-left in the window, covering the viewport.
    cocos2d::Sprite* sprite = actor->getSprite();
    EXPECT_TRUE(sprite->isVisible());
    EXPECT_EQ(sprite->getParent(), rig.window);
    const auto* texture = sprite->getTexture();
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->getPixelsWide(), 64);
    EXPECT_NEAR(texture->getPixelsWide() * sprite->getScaleX(), 64.0f, 0.01f);

    // An unchanged camera queues nothing.
    actor->refresh();
    EXPECT_EQ(actor->getQueuedInteractiveFrames(), 10);
}

TEST_F(ActorVR, ACameraChangeDiscardsTheBestFrameOfTheOldView)
{
    actor->setVolume(volume);
    actor->refresh();
    // The interactive frame arrives; its completion queues the best-quality frame, whose own
    // completion cannot arrive before the next frame is stepped.
    ASSERT_TRUE(rig.stepUntil([&] { return actor->getShownInteractiveFrames() == 1; }));
    rig.look(0.5f);
    actor->refresh();
    ASSERT_TRUE(rig.stepUntil([&] { return actor->getShownInteractiveFrames() == 2 && actor->getShownBestFrames() == 1; }));
    // Give a stale frame every chance to show up.
    for (int i = 0; i < 30; ++i)
        rig.rig.frame();
    EXPECT_EQ(actor->getShownBestFrames(), 1);
}

TEST_F(ActorVR, WindowVolumesAndModes)
{
    // Not ready (no voxel block) and colour volumes are ignored.
    isImageData* empty = isImageData::create();
    actor->setVolume(empty);
    EXPECT_EQ(actor->getVolume(), nullptr);
    actor->refresh();
    EXPECT_EQ(actor->getQueuedInteractiveFrames(), 0);

    actor->setVolume(volume);
    EXPECT_EQ(actor->getVolume(), volume);
    float width = 0, centre = 0;
    actor->getWindow(&width, &centre);
    EXPECT_EQ(width, 400.0f);
    EXPECT_EQ(centre, 40.0f);
    EXPECT_EQ(actor->getRenderMode(), RenderComposite);

    // A drag pushing the width below 2 keeps 2.
    actor->adjustWindowLevel(-1000.0f, 5.0f);
    actor->getWindow(&width, &centre);
    EXPECT_EQ(width, 2.0f);
    EXPECT_EQ(centre, 45.0f);

    actor->refresh();
    ASSERT_TRUE(rig.stepUntil([&] { return settled(); }));

    // A PET float volume switches to maximum intensity. The second volume changes nothing of
    // how the engines sample: nearest in real time, trilinear at best quality.
    isImageData* pet = qvtest::cubeVolume(PIXEL_FLOAT, MODALITY_PT);
    pet->retain();
    actor->setVolume(pet);
    EXPECT_EQ(actor->getRenderMode(), RenderMIP);
    rig.look(0.3f);
    actor->refresh();
    ASSERT_TRUE(rig.stepUntil([&] { return actor->getShownInteractiveFrames() >= 2 && actor->getShownBestFrames() >= 2; }));
    EXPECT_FALSE(actor->getInteractiveEngine()->isTrilinear());
    EXPECT_TRUE(actor->getBestEngine()->isTrilinear());
    pet->release();
}

TEST_F(ActorVR, TheBestFrameIsFullSizeAfterAViewWithoutTheVolume)
{
    actor->setVolume(volume);
    // Turned 70 degrees away: the volume lies in front of the eye but outside the 60 degree
    // view, so neither engine casts a ray.
    const cocos2d::Vec3 eye(7.5f, -72.5f, 7.5f);
    rig.camera->setCameraPosition(eye);
    rig.camera->lookAt(eye + cocos2d::Vec3(std::sin(1.22f), std::cos(1.22f), 0.0f) * 80.0f, cocos2d::Vec3(0, 0, 1));
    actor->refresh();
    ASSERT_TRUE(rig.stepUntil([&] { return actor->getShownBestFrames() >= 1; }));
    EXPECT_EQ(actor->getInteractiveEngine()->getLastRayCount(), 0);

    rig.look(0.0f);
    actor->refresh();
    ASSERT_TRUE(rig.stepUntil([&] { return actor->getShownBestFrames() >= 2; }));
    EXPECT_FLOAT_EQ(actor->getBestEngine()->getRenderScale(), 1.0f);
    const auto* texture = actor->getSprite()->getTexture();
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->getPixelsWide(), 64);
    EXPECT_EQ(texture->getPixelsHigh(), 64);
}

TEST_F(ActorVR, TinyViewportsMakeNoTexture)
{
    rig.camera->setupProjection(60.0f, 12.0f, 12.0f, 1.0f, 1000.0f, cocos2d::Mat4::IDENTITY);
    actor->setVolume(volume);
    actor->refresh();
    // 12 x 12 at the interactive scale of a tenth is one pixel: no frame.
    for (int i = 0; i < 40; ++i)
        rig.rig.frame();
    EXPECT_EQ(actor->getShownInteractiveFrames(), 0);
    EXPECT_FALSE(actor->getSprite()->isVisible());
}

TEST_F(ActorVR, TheActorManagerMakesTheVolumeActorThroughTheFactory)
{
    registerVolumeActorFactory();
    isActorManager* manager = isActorManager::create();
    manager->retain();
    manager->setRenderWindow(rig.window);
    isActorObject* made = manager->getVRActor();
    ASSERT_NE(dynamic_cast<isActorVR*>(made), nullptr);
    EXPECT_EQ(made->getRenderWindow(), rig.window);
    manager->clear();
    manager->release();
    isActorManager::setVRActorFactory(nullptr);
}
