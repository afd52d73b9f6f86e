// The framework layer: the one header every layer above includes.
//
// Folder layout (one class per header/source pair, named after the class):
//   base/      objects, pools, containers, Value/Data, log, scheduler, director, settings store
//   math/      vectors, matrices, quaternions, sizes and rectangles
//   platform/  files, application, device, GL view and GL declarations
//   node/      the scene graph: Node, ProtectedNode, Scene, Layer, LayerColor
//   actions/   actions and the action manager that steps them
//   event/     events, listeners, the event dispatcher, touches, IME and input translation
//   renderer/  render commands, textures, images, programs, cameras, clipping, captures
//   2d/        sprites, labels (FreeType glyph atlases) and draw nodes
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
#include "node/CCLayer.h"
#include "node/CCLayerColor.h"
#include "node/CCNode.h"
#include "node/CCProtectedNode.h"
#include "node/CCScene.h"

// actions
#include "actions/CCAction.h"
#include "actions/CCActionEase.h"
#include "actions/CCActionInstant.h"
#include "actions/CCActionInterval.h"
#include "actions/CCActionManager.h"

// events and input
#include "event/CCEvent.h"
#include "event/CCEventCustom.h"
#include "event/CCEventDispatcher.h"
#include "event/CCEventKeyboard.h"
#include "event/CCEventListener.h"
#include "event/CCEventListenerCustom.h"
#include "event/CCEventListenerKeyboard.h"
#include "event/CCEventListenerMouse.h"
#include "event/CCEventListenerTouch.h"
#include "event/CCEventMouse.h"
#include "event/CCEventTouch.h"
#include "event/CCIMEDelegate.h"
#include "event/CCIMEDispatcher.h"
#include "event/CCInputSimulator.h"
#include "event/CCInputTranslator.h"
#include "event/CCTouch.h"

// rendering
#include "2d/CCDrawNode.h"
#include "2d/CCFontAtlas.h"
#include "2d/CCLabel.h"
#include "2d/CCSprite.h"
#include "2d/CCSpriteFrame.h"
#include "platform/CCGLViewImpl.h"
#include "renderer/CCCamera.h"
#include "renderer/CCClippingProtocol.h"
#include "renderer/CCCustomCommand.h"
#include "renderer/CCGLProgram.h"
#include "renderer/CCGLProgramCache.h"
#include "renderer/CCGLProgramState.h"
#include "renderer/CCImage.h"
#include "renderer/CCRenderCommand.h"
#include "renderer/CCRenderTexture.h"
#include "renderer/CCRenderer.h"
#include "renderer/CCScissorCommand.h"
#include "renderer/CCTexture2D.h"
#include "renderer/CCTextureCache.h"
#include "renderer/CCTrianglesCommand.h"
#include "renderer/ccGLStateCache.h"
#include "renderer/ccUtils.h"

// ui
#include "ui/CocosGUI.h"

// layout files
#include "cocostudio/CocoStudio.h"

// sound effects
#include "audio/SimpleAudioEngine.h"
