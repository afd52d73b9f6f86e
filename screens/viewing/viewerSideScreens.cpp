#include "viewerSideScreens.h"

#include "cocos2d.h"

namespace viewerHooks {

namespace {
SceneFactory& favorites()
{
    static SceneFactory f;
    return f;
}
TagListFactory& tagList()
{
    static TagListFactory f;
    return f;
}
LevelDialogFactory& levelDialog()
{
    static LevelDialogFactory f;
    return f;
}
} // namespace

void setFavoritesScene(SceneFactory factory)
{
    favorites() = std::move(factory);
}

cocos2d::Scene* makeFavoritesScene()
{
    if (!favorites()) {
        cocos2d::log("viewer: no favourites screen is registered");
        return nullptr;
    }
    return favorites()();
}

void setTagList(TagListFactory factory)
{
    tagList() = std::move(factory);
}

cocos2d::Node* makeTagList(const std::string& filePath)
{
    if (!tagList()) {
        cocos2d::log("viewer: no tag list is registered");
        return nullptr;
    }
    return tagList()(filePath);
}

void setLevelDialog(LevelDialogFactory factory)
{
    levelDialog() = std::move(factory);
}

cocos2d::Node* makeLevelDialog(bool hasView, float width, float level)
{
    if (!levelDialog()) {
        cocos2d::log("viewer: no window level dialog is registered");
        return nullptr;
    }
    return levelDialog()(hasView, width, level);
}

} // namespace viewerHooks
