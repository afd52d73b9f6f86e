// Support for the viewers' tests: a director on the headless view (or the test program's GL
// window) running one scene, stepped by hand; resources from the project's Resources/ folder; a
// gesture clock the tests move by hand; and a recorder of the notifications that reach given
// contexts, in delivery order.
#pragma once

#include "isInteractorBase.h"
#include "isRenderWindow.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "UIJson.h"
#include "purgeServices.h"
#include "qvBuildPaths.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

// One delivered notification.
struct Delivery {
    unsigned int id = 0;
    cocos2d::Ref* sender = nullptr;
    void* context = nullptr;
    std::string text;
    float floatValue = 0.0f;
    int intValue = 0;
    uint32_t uintValue = 0;
    cocos2d::Ref* object = nullptr;
    bool hasData = false;

    float number(const char* key) const { return NSUI::UIJson::getFloat(text, key, -12345.0f); }
    std::string string(const char* key) const { return NSUI::UIJson::getString(text, key); }
};

// Observes numbers for contexts on behalf of a target of its own and keeps what arrives.
class Recorder : public cocos2d::Ref {
public:
    void watch(unsigned int id, void* context)
    {
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            this, context,
            [this, context](cocos2d::Ref* sender, unsigned int n, NSUI::NSNotificationData* data) {
                Delivery d;
                d.id = n;
                d.sender = sender;
                d.context = context;
                if (data) {
                    d.hasData = true;
                    d.text = data->text;
                    d.floatValue = data->floatValue;
                    d.intValue = data->intValue;
                    d.uintValue = data->uintValue;
                    d.object = data->object;
                }
                got.push_back(d);
            },
            id);
    }
    void watch(std::initializer_list<unsigned int> ids, void* context)
    {
        for (unsigned int id : ids)
            watch(id, context);
    }
    std::vector<Delivery> of(unsigned int id) const
    {
        std::vector<Delivery> out;
        for (const Delivery& d : got)
            if (d.id == id)
                out.push_back(d);
        return out;
    }
    size_t count(unsigned int id) const { return of(id).size(); }
    std::vector<unsigned int> ids() const
    {
        std::vector<unsigned int> out;
        for (const Delivery& d : got)
            out.push_back(d.id);
        return out;
    }
    void stop()
    {
        if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
            centre->removeObserver(this);
    }
    ~Recorder() override { stop(); }

    std::vector<Delivery> got;
};

// The gesture clock of the interactors, moved by hand (microseconds).
struct ManualClock {
    int64_t now = 1000000000;
    void install()
    {
        isImageSDK::isInteractorBase::setClock([this] { return now; });
    }
    void advanceMs(long long ms) { now += ms * 1000; }
    ~ManualClock() { isImageSDK::isInteractorBase::setClock(nullptr); }
};

struct ViewerRig {
    cocos2d::Director* director = nullptr;
    cocos2d::Scene* scene = nullptr;
    Recorder* recorder = nullptr;
    ManualClock clock;

    // The director must have its view already.
    void start()
    {
        director = cocos2d::Director::getInstance();
        auto* files = cocos2d::FileUtils::getInstance();
        files->setDefaultResourceRootPath(std::string(QV_RESOURCE_DIR) + "/");
        files->setSearchPaths({""});
        scene = cocos2d::Scene::create();
        director->runWithScene(scene);
        NSUI::NSNotificationCenter::getInstance();
        clock.install();
        recorder = new Recorder();
        // Past the notification centre's start delay, then a frame of normal length.
        director->stepFrame(0.5f);
        director->stepFrame(1.0f / 60);
    }

    void frame(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            director->stepFrame(1.0f / 60);
    }

    // Removes a window from the scene with its clean-up (which breaks its reference cycles).
    static void remove(cocos2d::Node* window) { window->removeFromParentAndCleanup(true); }

    void stop()
    {
        if (recorder) {
            recorder->stop();
            recorder->release();
            recorder = nullptr;
        }
        scene->removeAllChildrenWithCleanup(true);
        purgeServices();
        // Objects still waiting in the autorelease pool go now, after the purge, as at the
        // program's exit. None of them may make a new centre: it would tick on this director and
        // deliver nothing once the next one runs.
        frame(2);
        cocos2d::Director::destroyInstance();
        cocos2d::FileUtils::destroyInstance();
        EXPECT_EQ(NSUI::NSNotificationCenter::peekInstance(), nullptr) << "the notification centre was made again";
        NSUI::NSNotificationCenter::destroyInstance();
    }
};

} // namespace qvtest
