// isViewerMulti: the panel a viewing screen lays over its image area. It holds cells; each cell
// shows one image in one viewer: a grid browser (kinds 0-4: slices as acquired, axial,
// sagittal, coronal, oblique) or a volume viewer (kinds 5-6: volume rendering, maximum
// intensity; made through the volume layer's factory, isViewerVolume). Cells showing the same
// image share a key and form a group; cells whose viewer is linked follow each other's slice,
// cross point, zoom, pan and window.
//
// Commands: the screens call sendCommand / sendIntCommand / sendFloatCommand; the browsers hand
// their windows' commands up (posted with the container as context, the browser as sender). Both
// pass the router (onNotification), which picks the cell (the sender's, else the active one) and
// decides which viewers receive the command: the cell alone, its linked cells or its image
// group. The router also exchanges a cell's viewer between 2D and volume rendering, and posts
// 9113 when the kind of the active view changed. Positions are in the container's node space.
// Main thread only.
#pragma once

#include "isImageData.h"
#include "isNodeObject.h"
#include "isObject.h"
#include "isViewer.h"

#include "NSNotificationData.h"
#include "UIJson.h"

#include "cocos2d.h"
#include "ui/UILayout.h"

#include <map>
#include <string>
#include <vector>

namespace isImageSDK {

class isViewerBrowser;
class isViewerVolume;

// One cell: an image (the group key), an optional second key, and the viewer showing it.
class KeyViewProperty : public isObject {
public:
    static KeyViewProperty* create();
    ~KeyViewProperty() override;

    // Releases the image, the second key and the viewer.
    void clear() override;

    // Retains the new viewer (through its own retain) and releases the old one.
    void setViewer(isViewer* viewer);
    isViewer* getViewer() const { return m_viewer; }
    void setImage(isImageData* image);
    isImageData* getImage() const { return m_image; }
    void setSecondKey(cocos2d::Ref* key);
    cocos2d::Ref* getSecondKey() const { return m_secondKey; }

    // The viewer's kind, 7 without a viewer.
    int getViewKind() const;
    // refID(second key) x 1000000 + refID(image) as a 32-bit integer (wrapping), or refID(image)
    // alone without a second key.
    int getKey() const;

    isViewerBrowser* getBrowser() const;
    isViewerVolume* getVolumeViewer() const;

private:
    isImageData* m_image = nullptr;
    cocos2d::Ref* m_secondKey = nullptr;
    isViewer* m_viewer = nullptr;
};

class isViewerMulti : public cocos2d::ui::Layout, public isNodeObject, public NSUI::UIJson {
public:
    struct SliceInfo {
        int index = 0;
        int count = 0;
    };
    using CellList = std::vector<KeyViewProperty*>;

    // The framework's clear colour while a container is on screen (light blue-grey).
    static const cocos2d::Color4F kClearColour;

    static isViewerMulti* create();
    ~isViewerMulti() override;

    // No active cell; the subscriptions; a solid black background.
    bool init() override;
    // Observers removed, cells released, the clear colour back to black.
    void cleanup() override;
    void onEnterTransitionDidFinish() override;

    // The router: see the file comment. sender: a viewer of a cell, or null for the screens.
    virtual void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender);
    virtual void sendCommand(unsigned int id, NSUI::NSNotificationData* data);
    virtual void sendIntCommand(unsigned int id, int value);
    virtual void sendFloatCommand(unsigned int id, float value);
    virtual void registerNotifications();
    virtual void notificationCallback(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    // Adds a cell showing the image in a viewer of the kind over rect (container space). Nothing
    // without an image, for a kind above 0 on an image that is not a volume, or for kinds 5-6
    // without a volume viewer factory. Returns the new cell or null.
    KeyViewProperty* addView(int kind, bool linked, const cocos2d::Rect& rect, isImageData* image);
    // Puts a browser that the caller made, placed and added as a child into a new cell, as
    // addView does with its own.
    KeyViewProperty* addBrowserCell(isViewerBrowser* browser, int kind, bool linked, isImageData* image);
    // Removes every viewer (with clean-up) and forgets the cells and the active cell.
    void clearViews();
    // The container takes a new size; every cell's viewer keeps its share of it (position and
    // size scaled by the same factors), so a grid stays a grid over the new area. A maximised
    // view covers the new area; maximised and parked views come back to their cell's new share.
    void resizeKeepingCells(const cocos2d::Size& size);

    // 0 without an active cell, 7 when it has no viewer, else the viewer's kind.
    unsigned int getActiveViewKind() const;
    // The active view's rectangle in the container's parent; false without an active viewer.
    bool getActiveViewRect(cocos2d::Rect& out) const;
    void setWindowLevel(float width, float centre);
    bool getWindowLevel(float& width, float& centre) const;
    // Kinds 0-3: the first window's slice and the slice count along its plane.
    bool getSliceIndexAndCount(SliceInfo& out) const;
    std::string getActiveFilePath() const;

    // Group queries (cells in key order, then list order). Queries from an unlinked cell give
    // that cell alone (when it matches).
    std::vector<KeyViewProperty*> linkedCells(KeyViewProperty* cell) const;
    std::vector<KeyViewProperty*> sameKindCells(KeyViewProperty* cell) const;
    std::vector<KeyViewProperty*> mprCells(KeyViewProperty* cell) const;
    std::vector<KeyViewProperty*> mpr2DCells(KeyViewProperty* cell) const;
    std::vector<KeyViewProperty*> cellsOfKind(int kind) const;
    std::vector<KeyViewProperty*> imageGroup(KeyViewProperty* cell) const;
    std::vector<KeyViewProperty*> secondKeyGroup(KeyViewProperty* cell) const;
    KeyViewProperty* firstLinked2DCell(KeyViewProperty* cell) const;
    KeyViewProperty* cellOfViewer(const isViewer* viewer) const;

    // Brings the target cell in step with the source (nothing when the target is unlinked).
    void syncLinkedView(KeyViewProperty* target, KeyViewProperty* source, bool slice, bool zoom, bool pan);
    // Viewer exchanges; false when refused (maximised view, no volume viewer factory).
    bool exchangeToVolume(KeyViewProperty* cell, bool mip);
    bool exchangeToPlane(KeyViewProperty* cell, int kind);

    KeyViewProperty* getActiveCell() const { return m_active; }
    const std::map<int, CellList>& getGroups() const { return m_groups; }
    int getGroupCount() const { return static_cast<int>(m_groups.size()); }
    cocos2d::Ref* asRef() { return static_cast<cocos2d::Ref*>(static_cast<cocos2d::Node*>(this)); }

protected:
    isViewerMulti() = default;

    std::vector<KeyViewProperty*> query(KeyViewProperty* from, const std::function<bool(KeyViewProperty*)>& take) const;
    KeyViewProperty* chooseCell(cocos2d::Ref* sender) const;
    // The command to a cell's viewer with the container as sender.
    void deliver(KeyViewProperty* cell, unsigned int id, NSUI::NSNotificationData* data);
    // Re-post to the observers addressed with the container's parent.
    void postToParent(unsigned int id, bool urgent);
    void postActiveKind(int value);
    void sliceStep(KeyViewProperty* cell, unsigned int id, NSUI::NSNotificationData* data);
    void planeSwitch(KeyViewProperty* cell, int kind);
    void renderingSwitch(KeyViewProperty* cell, bool mip);
    void removeROI(KeyViewProperty* cell);
    void placeViewer(cocos2d::Node* node, const cocos2d::Rect& rect);
    // Appends a cell to its group and makes it active when it is the first.
    void insertCell(KeyViewProperty* cell);

    std::map<int, CellList> m_groups;
    KeyViewProperty* m_active = nullptr;
};

} // namespace isImageSDK
