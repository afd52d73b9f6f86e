// Fixture of the ingest tests (reader, scan, series cache, loader): a headless director stepped
// by hand with a live notification centre, a private folder for generated DICOM files below the
// writable path, an empty series cache folder, and a listener that records what the imaging
// classes post.
#pragma once

#include "DicomSeriesWriter.h"
#include "NSNotificationCenter.h"
#include "NSNotificationData.h"
#include "NSNotificationNumbers.h"
#include "isDcmScan.h"
#include "purgeServices.h"

#include "cocos2d.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvtest {

// One delivered notification.
struct Received {
    unsigned int id;
    cocos2d::Ref* sender;
    int intValue;
    float floatValue;
    int intValue2;
};

// Records deliveries (main thread) of the numbers it subscribes to, for one context.
struct Recorder : cocos2d::Ref {
    std::vector<Received> received;

    void listen(unsigned int id, void* context = nullptr)
    {
        NSUI::NSNotificationCenter::getInstance()->addObserver(
            this, context,
            [this](cocos2d::Ref* sender, unsigned int number, NSUI::NSNotificationData* data) {
                received.push_back({number, sender, data ? data->intValue : 0, data ? data->floatValue : 0.0f,
                                    data ? data->intValue2 : 0});
            },
            id);
    }
    std::vector<Received> of(unsigned int id) const
    {
        std::vector<Received> out;
        for (const Received& r : received)
            if (r.id == id)
                out.push_back(r);
        return out;
    }
    ~Recorder() override
    {
        if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
            centre->removeObserver(this);
    }
};

class IngestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(960, 640)));
        NSUI::NSNotificationCenter::getInstance();
        // Past the centre's first delay, so that every later frame delivers.
        cocos2d::Director::getInstance()->stepFrame(0.5f);
        // A writable path of the test's own: tests run in parallel processes, and each owns
        // its cache folder.
        auto* files = cocos2d::FileUtils::getInstance();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        writable = files->getWritablePath() + "ingest/" + info->test_suite_name() + "_" + info->name() + "/";
        files->removeDirectory(writable);
        files->setWritablePath(writable);
        root = files->getWritablePath() + "qv/dicom/test/";
        files->createDirectory(root);
    }

    void TearDown() override
    {
        // Objects the test created and let go are destroyed now, while the centre still runs
        // (a reader waits here for its loader thread to end).
        cocos2d::PoolManager::getInstance()->drainCurrentThread();
        recorder.received.clear();
        NSUI::NSNotificationCenter::getInstance()->removeObserver(&recorder);
        purgeServices();
        step(2);
        cocos2d::Director::destroyInstance();
        auto* files = cocos2d::FileUtils::getInstance();
        files->setWritablePath("");
        files->removeDirectory(writable);
    }

    // A new empty folder below the test's root, ending in "/".
    std::string folder(const std::string& name)
    {
        const std::string path = root + name + "/";
        cocos2d::FileUtils::getInstance()->createDirectory(path);
        return path;
    }

    void write(const std::string& path, const qvgen::ImageSpec& spec)
    {
        std::string error;
        ASSERT_TRUE(qvgen::writeDicomFile(path, spec, &error)) << error;
    }

    void step(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            cocos2d::Director::getInstance()->stepFrame(1.0f / 60);
    }

    // Steps frames until pred holds (giving workers time between frames); false after ~20 s.
    bool stepUntil(const std::function<bool()>& pred, int maxFrames = 20000)
    {
        for (int i = 0; i < maxFrames; ++i) {
            if (pred())
                return true;
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return pred();
    }

    std::string writable;
    std::string root;
    Recorder recorder;
};

// Holds one reference to a framework object for the scope of a test (autoreleased objects are
// released at the end of the next frame).
template <class T>
class Retained {
public:
    explicit Retained(T* object = nullptr) : m_object(object)
    {
        if (m_object)
            m_object->retain();
    }
    ~Retained() { reset(); }
    Retained(const Retained&) = delete;
    Retained& operator=(const Retained&) = delete;
    void reset()
    {
        if (m_object)
            m_object->release();
        m_object = nullptr;
    }
    T* operator->() const { return m_object; }
    T* get() const { return m_object; }

private:
    T* m_object;
};

} // namespace qvtest
