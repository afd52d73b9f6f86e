// The way screens open the viewer screen before the viewer screen itself exists in this library.
//
// The patient and study lists open a series with imageViewerPC::createScene(series) and, for a
// hanging protocol, setProtocol(view-mode name) on the scene's child "imageViewPC". Until the
// viewer screen is built here, those two calls go through the opener registered below. The viewer
// screen registers itself when it is added (a static registration in its own source file), and
// tests register a stand-in; then openViewerScene calls stay as they are.
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
// The viewer screen's scene for the series, not yet pushed; null when no opener is registered or
// the opener made none.
cocos2d::Scene* openViewerScene(const std::string& series, const std::string& protocol);
