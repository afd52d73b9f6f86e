// The capture tests' window: one GLFW window with a GL context for the whole program (made in main).
#pragma once

#include "cocos2d.h"

namespace qvgl {

constexpr float kCaptureWindowWidth = 320.0f;
constexpr float kCaptureWindowHeight = 240.0f;

cocos2d::GLView* captureWindow();

} // namespace qvgl
