// The volume viewer in a headless scene: what it shows first, the commands it answers, the
// rotating cine and the frames its commands cause.
#include "../../viewers/tests/support/ViewerRig.h"
#include "support/ActorRig.h"

#include "isInteractorTrackVR.h"
#include "isViewerVR.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace isImageSDK;

namespace {

class ViewerVR : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(640, 480)));
        rig.start();
        registerVolumeRendering();
        viewer = dynamic_cast<isViewerVR*>(isViewerVolume::create());
        ASSERT_NE(viewer, nullptr);
        viewer->setContentSize(cocos2d::Size(200, 160));
        rig.scene->addChild(viewer);
        volume = qvtest::cubeVolume();
        volume->retain();
    }
    void TearDown() override
    {
        volume->release();
        rig.stop();
        isActorManager::setVRActorFactory(nullptr);
        isViewerVolume::setFactory(nullptr);
    }
    void send(unsigned int id, NSUI::NSNotificationData* data = nullptr) { viewer->onNotification(id, data, nullptr); }
    NSUI::NSNotificationData* text(const std::string& t)
    {
        auto* d = NSUI::NSNotificationData::create();
        d->text = t;
        return d;
    }

    qvtest::ViewerRig rig;
    isViewerVR* viewer = nullptr;
    isImageData* volume = nullptr;
};

} // namespace

TEST_F(ViewerVR, OpensTheVolumeInPerspectiveFromTheFront)
{
    viewer->setImageData(volume);
    viewer->showVolumeRendering();
    EXPECT_EQ(viewer->getKind(), VIEW_VR);
    ASSERT_NE(dynamic_cast<isInteractorTrackVR*>(viewer->getInteractor()), nullptr);
    isActorVR* actor = viewer->getActor();
    ASSERT_NE(actor, nullptr);
    EXPECT_EQ(actor->getVolume(), volume);
    isCamera* camera = viewer->getSceneCamera();
    EXPECT_TRUE(camera->isPerspective());
    // Looking from the front at the centre, head up (a head-first supine volume of identity
    // matrix: world +z is anterior, +y superior).
    EXPECT_NEAR(camera->getLookAtTarget().y, 7.5f, 1e-3f);
    EXPECT_GT(camera->getEye().z, 50.0f);
    EXPECT_GT(camera->getUpVector().y, 0.99f);
    // The actor renders on the window's redraws, interactive first, then the best quality.
    // Waited for by time, not by a count of frames: a busy machine draws many frames before the
    // best-quality thread has finished one.
    ASSERT_TRUE([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (actor->getShownBestFrames() == 0 && std::chrono::steady_clock::now() < end) {
            rig.frame();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return actor->getShownBestFrames() > 0;
    }());
    EXPECT_TRUE(actor->getSprite()->isVisible());

    viewer->showMIP();
    EXPECT_EQ(viewer->getKind(), VIEW_MIP);
    EXPECT_EQ(actor->getRenderMode(), RenderMIP);
    viewer->showVolumeRendering();
    EXPECT_EQ(actor->getRenderMode(), RenderComposite);
}

TEST_F(ViewerVR, WindowDragsAndColourTablesRenderWithAStillCamera)
{
    viewer->setImageData(volume);
    isActorVR* actor = viewer->getActor();
    ASSERT_NE(actor, nullptr);
    actor->refresh();
    const int queued = actor->getQueuedInteractiveFrames();
    actor->refresh();
    EXPECT_EQ(actor->getQueuedInteractiveFrames(), queued);

    send(NOTIFY_VIEW_WINDOW_LEVEL, text("{\"ww\":\"10\",\"wl\":\"-5\"}"));
    actor->refresh();
    EXPECT_EQ(actor->getQueuedInteractiveFrames(), queued + 1);
    float width = 0, centre = 0;
    actor->getWindow(&width, &centre);
    EXPECT_EQ(width, 410.0f);
    EXPECT_EQ(centre, 35.0f);

    send(NOTIFY_CLUT_SET, text("bwInverse.plist"));
    actor->refresh();
    EXPECT_EQ(actor->getQueuedInteractiveFrames(), queued + 2);
    EXPECT_EQ(actor->getColorTable()[0], 255);

    send(NOTIFY_WL_SET, text("{\"ww\":\"100\",\"wl\":\"20\"}"));
    actor->getWindow(&width, &centre);
    EXPECT_EQ(width, 100.0f);
    EXPECT_EQ(centre, 20.0f);
    send(NOTIFY_WL_DEFAULT);
    actor->getWindow(&width, &centre);
    EXPECT_EQ(width, 400.0f);
}

TEST_F(ViewerVR, ColourTablesFromPropertyLists)
{
    // A folder of its own: runs of this test in other build trees at once remove theirs.
    char made[] = "/tmp/qv-volume-cluts-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const std::filesystem::path folder = made;
    auto write = [&](const std::string& name, int count) {
        std::ofstream out(folder / name);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
        for (const char* key : {"Red", "Green", "Blue"}) {
            out << "<key>" << key << "</key><array>";
            for (int i = 0; i < count; ++i) {
                const int v = key[0] == 'R' ? i : (key[0] == 'G' ? 7 : 300);
                out << "<integer>" << v << "</integer>";
            }
            out << "</array>";
        }
        out << "</dict></plist>\n";
    };
    write("Perfusion.plist", 256);
    write("Other.plist", 256);
    write("Short.plist", 255);
    cocos2d::FileUtils::getInstance()->addSearchPath(folder.string());
    viewer->setImageData(volume);
    isActorVR* actor = viewer->getActor();
    ASSERT_NE(actor, nullptr);

    send(NOTIFY_CLUT_SET, text("Other.plist"));
    const unsigned char* t = actor->getColorTable();
    EXPECT_EQ(t[3 * 100], 100);
    EXPECT_EQ(t[3 * 100 + 1], 7);
    EXPECT_EQ(t[3 * 100 + 2], 255);  // 300 clamped
    send(NOTIFY_CLUT_SET, text("Perfusion.plist"));
    EXPECT_EQ(t[3 * 100], 255);
    EXPECT_EQ(t[3 * 100 + 2], 100);
    // Arrays that are not 256 long, or a missing file, leave the table.
    send(NOTIFY_CLUT_SET, text("Short.plist"));
    send(NOTIFY_CLUT_SET, text("Missing.plist"));
    EXPECT_EQ(t[3 * 100 + 2], 100);
    send(NOTIFY_CLUT_SET, text("noClut.plist"));
    EXPECT_EQ(t[3 * 100], 100);
    EXPECT_EQ(t[3 * 100 + 2], 100);
    std::filesystem::remove_all(folder);
}

TEST_F(ViewerVR, RotatingCine)
{
    rig.recorder->watch(NOTIFY_CINE_STATE, nullptr);
    // One slice: no cine, but the state is still announced.
    isImageData* single = isImageData::create();
    const int dims[3] = {8, 8, 1};
    const float spacing[3] = {1, 1, 1};
    ASSERT_TRUE(single->allocateVolume(dims, spacing, PIXEL_I16, 0, 0, cocos2d::Mat4()));
    viewer->setImageData(single);
    send(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_FALSE(viewer->isCineRunning());
    rig.frame(2);
    ASSERT_EQ(rig.recorder->count(NOTIFY_CINE_STATE), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_CINE_STATE)[0].intValue, 0);

    viewer->setImageData(volume);
    // Stopped: prior from frame 0 wraps to 35.
    send(NOTIFY_CINE_PRIOR);
    EXPECT_EQ(viewer->getCineFrame(), 35);
    send(NOTIFY_CINE_NEXT);
    EXPECT_EQ(viewer->getCineFrame(), 0);

    send(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_TRUE(viewer->isCineRunning());
    for (int i = 0; i < 10; ++i)
        send(NOTIFY_CINE_PRIOR);
    EXPECT_EQ(viewer->getTicksPerFrame(), 120);
    for (int i = 0; i < 10; ++i)
        send(NOTIFY_CINE_NEXT);
    EXPECT_EQ(viewer->getTicksPerFrame(), 5);
    // Every fifth tick turns the view by 5 degrees.
    const cocos2d::Vec3 before = viewer->getSceneCamera()->getEye();
    for (int i = 0; i < 11; ++i)
        viewer->cineTick();
    EXPECT_EQ(viewer->getCineFrame(), 3);
    EXPECT_GT(viewer->getSceneCamera()->getEye().distance(before), 1.0f);
    send(NOTIFY_CINE_PLAY_TOGGLE);
    EXPECT_FALSE(viewer->isCineRunning());
}

TEST_F(ViewerVR, APetVolumeOpensInvertedInMaximumIntensity)
{
    isImageData* pet = qvtest::cubeVolume(PIXEL_FLOAT, MODALITY_PT);
    pet->retain();
    viewer->setImageData(pet);
    viewer->showVolumeRendering();
    isActorVR* actor = viewer->getActor();
    ASSERT_NE(actor, nullptr);
    EXPECT_EQ(actor->getRenderMode(), RenderMIP);
    EXPECT_EQ(actor->getColorTable()[0], 255);
    EXPECT_EQ(actor->getColorTable()[3 * 255], 0);
    pet->release();
}

TEST_F(ViewerVR, MaximiseAndPark)
{
    viewer->setImageData(volume);
    viewer->setPosition(cocos2d::Vec2(30, 40));
    rig.recorder->watch(NOTIFY_WINDOW_MAXIMIZED, nullptr);
    // Another window maximised: parked, with no frame pending; then back.
    auto* other = NSUI::NSNotificationData::create();
    other->uintValue = viewer->getRefID() + 1000;
    send(NOTIFY_WINDOW_MAXIMIZE, other);
    EXPECT_TRUE(viewer->isParked());
    EXPECT_EQ(viewer->getContentSize().width, isViewerVR::kParkedSize);
    EXPECT_FALSE(viewer->getSceneCamera()->isChanged());
    send(NOTIFY_WINDOW_MAXIMIZE, other);
    EXPECT_FALSE(viewer->isParked());
    EXPECT_EQ(viewer->getPosition(), cocos2d::Vec2(30, 40));
    EXPECT_EQ(viewer->getContentSize().width, 200.0f);

    // This window maximised to the payload's size, and restored.
    auto* self = NSUI::NSNotificationData::create();
    self->uintValue = viewer->getRefID();
    self->text = "{\"x\":\"0\",\"y\":\"0\",\"w\":\"600\",\"h\":\"400\"}";
    send(NOTIFY_WINDOW_MAXIMIZE, self);
    EXPECT_EQ(viewer->getContentSize().width, 600.0f);
    EXPECT_TRUE(viewer->getSceneCamera()->isChanged());
    send(NOTIFY_WINDOW_MAXIMIZE, self);
    EXPECT_EQ(viewer->getContentSize().width, 200.0f);
    rig.frame(3);
    ASSERT_EQ(rig.recorder->count(NOTIFY_WINDOW_MAXIMIZED), 2u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_WINDOW_MAXIMIZED)[0].intValue, 1);
    EXPECT_EQ(rig.recorder->of(NOTIFY_WINDOW_MAXIMIZED)[1].intValue, 0);
}

// A touched volume window tells its owner, and tells the screen (which listens with context 0)
// that it is the active one.
TEST_F(ViewerVR, ATouchedWindowIsAnnouncedAsActiveToEveryone)
{
    viewer->setImageData(volume);
    auto* owner = new qvtest::Recorder();
    viewer->setOwner(owner);
    rig.recorder->watch(NOTIFY_VIEW_ACTIVATE, owner);
    rig.recorder->watch(NOTIFY_VIEW_ACTIVATED, nullptr);
    send(NOTIFY_VIEW_ACTIVATE);
    rig.frame(6);
    EXPECT_EQ(rig.recorder->count(NOTIFY_VIEW_ACTIVATE), 1u);
    ASSERT_EQ(rig.recorder->count(NOTIFY_VIEW_ACTIVATED), 1u);
    EXPECT_EQ(rig.recorder->of(NOTIFY_VIEW_ACTIVATED)[0].object, viewer);
    viewer->setOwner(nullptr);
    owner->release();
}
