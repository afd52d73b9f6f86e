// A headless scene with a fake render window holding a perspective camera, for the volume
// actor's tests, and a small CT-like volume as an image.
#pragma once

#include "../../../display/tests/support/DisplayScene.h"
#include "../../../display/tests/support/FakeRenderWindow.h"

#include "isActorVR.h"
#include "isImageData.h"
#include "isImageTypes.h"

#include <chrono>
#include <functional>

namespace qvtest {

struct ActorRig {
    DisplayScene rig;
    FakeRenderWindow* window = nullptr;
    isImageSDK::isCamera* camera = nullptr;

    void start(float size = 64.0f)
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(640, 480)));
        rig.start();
        window = FakeRenderWindow::create();
        rig.scene->addChild(window);
        camera = isImageSDK::isCamera::create();
        camera->retain();
        camera->setPerspective(true);
        camera->setupProjection(60.0f, size, size, 1.0f, 1000.0f, cocos2d::Mat4::IDENTITY);
        window->sceneCamera = camera;
        look(0.0f);
    }

    // Looks at the middle of the test volume from 80 mm, turned by `angle` radians about z.
    void look(float angle)
    {
        const cocos2d::Vec3 centre(7.5f, 7.5f, 7.5f);
        camera->setCameraPosition(centre + cocos2d::Vec3(80.0f * std::sin(angle), -80.0f * std::cos(angle), 0.0f));
        camera->lookAt(centre, cocos2d::Vec3(0.0f, 0.0f, 1.0f));
    }

    void stop()
    {
        camera->release();
        rig.stop();
    }

    // Steps frames until `done` holds or twenty seconds pass.
    bool stepUntil(const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            rig.frame();
            if (done())
                return true;
        }
        return false;
    }
};

// 16 x 16 x 16 signed 16-bit volume, 1 mm, identity matrix: a cube of 400 in -1000, window
// 400 / 40 on its first slice.
inline isImageSDK::isImageData* cubeVolume(int pixelType = isImageSDK::PIXEL_I16, int modality = 0)
{
    using namespace isImageSDK;
    isImageData* image = isImageData::create();
    const int dims[3] = {16, 16, 16};
    const float spacing[3] = {1, 1, 1};
    if (!image->allocateVolume(dims, spacing, pixelType, 0, 0, cocos2d::Mat4()))
        return nullptr;
    for (int k = 0; k < 16; ++k) {
        isSliceInfo* s = image->getSlices()[k];
        s->windowWidth = 400.0f;
        s->windowCenter = 40.0f;
        s->modality = modality;
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 16; ++i) {
                const bool inside = i >= 4 && i < 12 && j >= 4 && j < 12 && k >= 4 && k < 12;
                const int index = j * 16 + i;
                if (pixelType == PIXEL_FLOAT)
                    reinterpret_cast<float*>(s->pixels)[index] = inside ? 400.0f : -1000.0f;
                else
                    reinterpret_cast<int16_t*>(s->pixels)[index] = static_cast<int16_t>(inside ? 400 : -1000);
            }
    }
    return image;
}

} // namespace qvtest
