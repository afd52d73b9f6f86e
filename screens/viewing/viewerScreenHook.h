// The way screens open the viewer screen.
//
// The patient and study lists open a series with openViewerScene(series, protocol): by default
// imageViewerPC::createScene(series), then setProtocol(view-mode name) on the scene's child
// "imageViewPC" (imageViewerPC::getScreen) when a protocol is given. Tests may register a
// stand-in opener in its place.
//
// series: a series folder, or the flat JSON {"series1": folder, ..., "num": n} of several series.
// protocol: a view-mode name, or "" for the viewer's own choice.
//
// Main thread only.
#pragma once

#include <functional>
#include <string>

namespace cocos2d {
class Scene;
}

using ViewerSceneOpener = std::function<cocos2d::Scene*(const std::string& series, const std::string& protocol)>;

// Replaces the opener (an empty function removes it).
void setViewerSceneOpener(ViewerSceneOpener opener);
bool hasViewerSceneOpener();
// The viewer screen's scene for the series, not yet pushed: the registered opener's when there is
// one (null when it made none), else the viewer screen's own.
cocos2d::Scene* openViewerScene(const std::string& series, const std::string& protocol);
