// For benchmarks that drive the program's main loop by hand: a headless director, the
// notification centre, and a writable path of their own.
#pragma once

#include "NSNotificationCenter.h"

#include "cocos2d.h"

#include <string>

namespace qvbench {

// One frame of the main loop.
inline void step()
{
    cocos2d::Director::getInstance()->stepFrame(1.0f / 60);
}

// Once per process: the headless director, the notification centre, and writablePath as the
// framework's writable path.
inline void ensureHeadless(const std::string& writablePath)
{
    static const bool ready = [&writablePath] {
        cocos2d::Director::getInstance()->setOpenGLView(cocos2d::GLViewHeadless::create(cocos2d::Size(960, 640)));
        NSUI::NSNotificationCenter::getInstance();
        cocos2d::FileUtils::getInstance()->setWritablePath(writablePath);
        return true;
    }();
    (void)ready;
}

} // namespace qvbench
