// Test fixture: a fresh director with a headless view for every test, torn down afterwards.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "cocos2d.h"

namespace qvtest {

class HeadlessDirectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        director = cocos2d::Director::getInstance();
        director->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(960, 640)));
        scheduler = director->getScheduler();
    }
    void TearDown() override
    {
        cocos2d::Director::destroyInstance();
    }

    cocos2d::Director* director = nullptr;
    cocos2d::Scheduler* scheduler = nullptr;
};

// Captures log lines for the lifetime of the object.
class LogCapture {
public:
    LogCapture()
    {
        cocos2d::setLogSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(_mutex);
            _lines.push_back(line);
        });
    }
    ~LogCapture() { cocos2d::setLogSink(nullptr); }
    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _lines;
    }
    size_t count(const std::string& line) const
    {
        std::lock_guard<std::mutex> lock(_mutex);
        size_t n = 0;
        for (const auto& l : _lines) {
            n += l == line ? 1 : 0;
        }
        return n;
    }

private:
    mutable std::mutex _mutex;
    std::vector<std::string> _lines;
};

} // namespace qvtest
