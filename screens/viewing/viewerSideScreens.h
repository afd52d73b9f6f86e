// The side screens that the viewer screen opens but that are built elsewhere: the favourites list
// (pushed as a scene), the DICOM tag list and the window width/level dialog (both laid over the
// screen as windows). Each is reached through a factory that its own screen registers at start;
// until one is registered the viewer screen's entry does nothing but log one line.
//
// Main thread only.
#pragma once

#include <functional>
#include <string>

namespace cocos2d {
class Node;
class Scene;
} // namespace cocos2d

namespace viewerHooks {

// The favourites list, pushed by the viewer screen's favourites button.
using SceneFactory = std::function<cocos2d::Scene*()>;
void setFavoritesScene(SceneFactory factory);
cocos2d::Scene* makeFavoritesScene();

// The DICOM tag list of one file, as a window the screen adds to itself (named "dcmInfo").
using TagListFactory = std::function<cocos2d::Node*(const std::string& filePath)>;
void setTagList(TagListFactory factory);
cocos2d::Node* makeTagList(const std::string& filePath);

// The window width/level dialog, as a window the screen adds to itself (named "editWW"); with a
// view its fields start at that view's width and level. The dialog posts 9024 with itself as
// sender when it closes with values.
using LevelDialogFactory = std::function<cocos2d::Node*(bool hasView, float width, float level)>;
void setLevelDialog(LevelDialogFactory factory);
cocos2d::Node* makeLevelDialog(bool hasView, float width, float level);

} // namespace viewerHooks
