// The framework layer: the one header every layer above includes.
//
// Folder layout (one class per header/source pair, named after the class):
//   base/      objects, pools, containers, Value/Data, log, scheduler, director, settings store
//   math/      vectors, matrices, quaternions, sizes and rectangles
//   platform/  files, application, device, GL view and GL declarations
//   node/      the scene graph: Node, Scene and their relatives
//   renderer/  render commands, textures, programs, cameras
//   ui/        widgets
//   cocostudio/ the layout loader (CSLoader) and its layout format
//   audio/     sound effects (CocosDenshion::SimpleAudioEngine)
//   extensions/ hot update, audio, file chooser, web view holder
// Everything lives in namespace cocos2d (USING_NS_CC).
#pragma once

// base
#include "base/CCArray.h"
#include "base/CCConfiguration.h"
#include "base/CCAutoreleasePool.h"
#include "base/CCConsole.h"
#include "base/CCData.h"
#include "base/CCDirector.h"
#include "base/CCMap.h"
#include "base/CCRef.h"
#include "base/CCScheduler.h"
#include "base/CCString.h"
#include "base/CCUserDefault.h"
#include "base/CCValue.h"
#include "base/CCVector.h"
#include "base/base64.h"
#include "base/ccMacros.h"
#include "base/ccTypes.h"

// math
#include "math/CCMath.h"

// platform
#include "platform/CCApplication.h"
#include "platform/CCDevice.h"
#include "platform/CCFileUtils.h"
#include "platform/CCGL.h"
#include "platform/CCGLView.h"
#include "platform/CCPlatformMacros.h"

// scene graph
#include "node/CCNode.h"
#include "node/CCScene.h"

// ui
#include "ui/UIMargin.h"

// sound effects
#include "audio/SimpleAudioEngine.h"
