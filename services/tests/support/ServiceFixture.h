// Test fixture for the network service: a headless director, the service made through getInstance
// over a library database in a temporary folder (storage server closed), its discovery sweeps,
// echo requests and toasts recorded instead of only shown, and recorders for its notifications.
#pragma once

#include "../../../foundation/tests/support/HeadlessFrames.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "dataService.h"
#include "dicomDB.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

// Records the payloads of the notifications it listens to, by number, on the main thread.
class NotificationLog : public cocos2d::Ref {
public:
    struct Entry {
        std::string text;
        int intValue = 0;
        uint32_t uintValue = 0;
        float floatValue = 0;
        dcmFindStudyRecord study;
        dcmFindSeriesRecord series;
    };
    void listen(std::initializer_list<unsigned int> numbers)
    {
        for (unsigned int number : numbers)
            NSUI::NSNotificationCenter::getInstance()->addObserver(
                this, nullptr,
                [this](cocos2d::Ref*, unsigned int id, NSUI::NSNotificationData* d) {
                    Entry e;
                    if (d) {
                        e.text = d->text;
                        e.intValue = d->intValue;
                        e.uintValue = d->uintValue;
                        e.floatValue = d->floatValue;
                        if (id == NSUI::NOTIFY_NET_FIND_STUDY && d->userData)
                            e.study = *static_cast<dcmFindStudyRecord*>(d->userData);
                        if (id == NSUI::NOTIFY_NET_FIND_SERIES && d->userData)
                            e.series = *static_cast<dcmFindSeriesRecord*>(d->userData);
                    }
                    entries[id].push_back(e);
                },
                number);
    }
    ~NotificationLog() override
    {
        if (auto* c = NSUI::NSNotificationCenter::peekInstance()) c->removeObserver(this);
    }
    std::vector<Entry>& of(unsigned int number) { return entries[number]; }
    std::map<unsigned int, std::vector<Entry>> entries;
};

class ServiceFixture : public HeadlessFrames {
protected:
    struct Echo {
        std::vector<std::string> entries;
        bool sweep;
    };

    void SetUp() override
    {
        HeadlessFrames::SetUp();
        const char* xdg = std::getenv("XDG_DATA_HOME");
        ASSERT_NE(xdg, nullptr);
        base_ = std::filesystem::path(xdg) / "service-tests" /
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(base_);
        const std::string root = (base_ / "qv" / "dicom").string() + "/";
        dataService::setDatabaseSetupForTest([this, root](dicomDB* db) {
            db->setLibraryFolderForTest(root);
            configureDatabase(db);
        });
        service = dataService::getInstance();
        service->discoveryStarter = [this] { ++discoveries; };
        service->echoObserver = [this](const std::vector<std::string>& e, bool sweep) { echoes.push_back({e, sweep}); };
        service->toastObserver = [this](const std::string& text, float seconds) {
            toasts.push_back(text + "|" + std::to_string(static_cast<int>(seconds)));
        };
        ASSERT_NE(service->getDatabase(), nullptr);
        passStartDelay();
    }
    // Settings of the library database before its init; by default its storage server stays closed.
    virtual void configureDatabase(dicomDB* db) { db->setStartServerForTest(false); }
    void TearDown() override
    {
        dataService::destroyInstance();
        dataService::setDatabaseSetupForTest(nullptr);
        HeadlessFrames::TearDown();
        std::filesystem::remove_all(base_);
    }
    // Runs frames until pred holds or ms milliseconds of wall time have passed.
    bool waitFor(const std::function<bool()>& pred, int ms = 10000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!pred() && std::chrono::steady_clock::now() < end) {
            step();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return pred();
    }

    dataService* service = nullptr;
    int discoveries = 0;
    std::vector<Echo> echoes;
    std::vector<std::string> toasts;
    std::filesystem::path base_;
};
