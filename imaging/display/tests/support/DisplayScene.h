// A scene for the display tests: a running scene with one isCamera of its own (flag 2), set up
// as a render window sets up its scene camera, looking at the middle of a slice so that one
// world unit (millimetre) is one window pixel and texel centres fall on pixel centres.
//
// With the camera's default axes (right = +x, up = -y), a slice of `columns` x `rows` texels
// with spacing 1, placed with the identity matrix, covers window x in [cx - columns / 2,
// cx + columns / 2) with column 0 on the left, and row 0 at the top (window y = cy + rows / 2
// - 0.5 for its centres), cx and cy being the window's centre.
#pragma once

#include "NSNotificationCenter.h"
#include "isCamera.h"
#include "purgeServices.h"

#include "cocos2d.h"

#include <string>

namespace qvtest {

// The camera flag the tests give their scene camera.
constexpr unsigned short kSceneFlag = 2;

struct DisplayScene {
    cocos2d::Director* director = nullptr;
    cocos2d::Scene* scene = nullptr;
    isImageSDK::isCamera* camera = nullptr;
    cocos2d::Size win;

    // The director must have its view already.
    void start()
    {
        director = cocos2d::Director::getInstance();
        win = director->getWinSize();
        scene = cocos2d::Scene::create();
        camera = isImageSDK::isCamera::create();
        camera->setCameraFlag(kSceneFlag);
        scene->addChild(camera);
        director->runWithScene(scene);
        NSUI::NSNotificationCenter::getInstance();
        // Past the notification centre's start delay, then a frame of normal length (a frame
        // measured above 0.3 s would switch the shader nodes to the CPU path).
        director->stepFrame(0.5f);
        director->stepFrame(1.0f / 60);
    }

    // start() on a headless view of the given size.
    void startHeadless(float width = 640, float height = 480)
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(width, height)));
        start();
    }

    // An urgent notification to one window (its context) with a payload, delivered by the next frame.
    void post(void* window, unsigned int id, const std::string& text = "", float f = 0, int i = 0)
    {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = text;
        data->floatValue = f;
        data->intValue = i;
        NSUI::NSNotificationCenter::getInstance()->postNotification(nullptr, id, data, window, true);
        frame();
    }

    // Centres the view on world (x, y, 0), one world unit per window pixel.
    void lookAt(float x, float y)
    {
        camera->setPosition3D(cocos2d::Vec3(x, y, -1000.0f));
        camera->lookAt(cocos2d::Vec3(x, y, 0.0f), cocos2d::Vec3(0.0f, -1.0f, 0.0f));
        camera->setupProjection(60.0f, win.width, win.height, 100.0f, 5000.0f, cocos2d::Mat4::IDENTITY);
    }

    // A node drawn by the scene camera only.
    void add(cocos2d::Node* node)
    {
        scene->addChild(node);
        node->setCameraMask(kSceneFlag, true);
    }

    void frame(float dt = 1.0f / 60) { director->stepFrame(dt); }

    void stop()
    {
        purgeServices();
        frame();
        frame();
        cocos2d::Director::destroyInstance();
    }
};

} // namespace qvtest
