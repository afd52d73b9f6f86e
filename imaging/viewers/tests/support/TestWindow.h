// A render window for the tests of the render window layers: its picking surface is the world
// plane z = 0, it records the commands its handler receives, and it takes an interactor of the
// test's choice. Its camera looks down +z at the origin from 1000 units, world +x to the right
// and world -y up, one world unit per window unit at zoom 1.
#pragma once

#include "isInteractorImage.h"
#include "isRenderWindow.h"

#include "NSNotificationNumbers.h"

#include "cocos2d.h"

#include <vector>

namespace qvtest {

class TestWindow : public isImageSDK::isRenderWindow {
public:
    struct Command {
        unsigned int id;
        cocos2d::Ref* sender;
        float floatValue;
        int intValue;
        std::string text;
    };

    // A window of the size at the position, with an image interactor when asked.
    static TestWindow* create(const cocos2d::Size& size, const cocos2d::Vec2& position, bool interactor = true)
    {
        auto* window = new TestWindow();
        if (!window->init()) {
            window->release();
            return nullptr;
        }
        window->autorelease();
        window->setContentSize(size);
        window->setPosition(position);
        window->home();
        if (interactor) {
            isImageSDK::isInteractorImage* i = isImageSDK::isInteractorImage::create();
            window->setInteractor(i);
        }
        return window;
    }

    void home()
    {
        setCameraPosition(cocos2d::Vec3(0.0f, 0.0f, -1000.0f));
        lookAt(cocos2d::Vec3::ZERO, cocos2d::Vec3(0.0f, -1.0f, 0.0f));
    }

    isImageSDK::isInteractorImage* imageInteractor() const
    {
        return dynamic_cast<isImageSDK::isInteractorImage*>(getInteractor());
    }

    bool screenToWorld(const cocos2d::Vec2& window, cocos2d::Vec3& world) override
    {
        if (!pickable)
            return false;
        cocos2d::Vec3 a, b;
        getSceneCamera()->screenToWorld(cocos2d::Vec3(window.x, window.y, 0.0f), &a);
        getSceneCamera()->screenToWorld(cocos2d::Vec3(window.x, window.y, 1.0f), &b);
        if (a.z == b.z)
            return false;
        const float t = -a.z / (b.z - a.z);
        world = a + (b - a) * t;
        return true;
    }

    void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender) override
    {
        commands.push_back(Command{id, sender, data ? data->floatValue : 0.0f, data ? data->intValue : 0,
                                   data ? data->text : std::string()});
        isImageSDK::isRenderWindow::onNotification(id, data, sender);
    }

    void collectNotificationIds(std::vector<unsigned int>& ids) override
    {
        for (unsigned int id : {NOTIFY_VIEW_PAN, NOTIFY_VIEW_ZOOM, NOTIFY_VIEW_ZOOM_WHEEL, NOTIFY_VIEW_PAN_END,
                                NOTIFY_VIEW_ZOOM_END, NOTIFY_VIEW_ACTIVATE, NOTIFY_VIEW_REFRESH})
            ids.push_back(id);
    }

    std::vector<unsigned int> commandIds() const
    {
        std::vector<unsigned int> out;
        for (const Command& c : commands)
            out.push_back(c.id);
        return out;
    }

    bool pickable = true;
    std::vector<Command> commands;
};

} // namespace qvtest
