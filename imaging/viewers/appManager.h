// appManager: turns a choice of series and a view mode into a screen layout. A viewer screen owns
// one; it hands over the images and the rectangle of its viewing area, and the manager creates
// the multi-view container and fills it with views: single 2D views, grid browsers, linked
// reformatted planes with or without a volume rendering, or one view per compared image.
//
// It also owns the hanging protocols: the process-wide list read from "protocal/protocal.xml",
// the rule that picks the protocols offered for a selection, and the view-mode names that the
// protocol file and the 9114 payload use.
//
// Rectangles are in the screen's node space (area) and the container's (views). Main thread only.
#pragma once

#include "isImageData.h"
#include "isViewerMulti.h"

#include "NSNotificationData.h"
#include "UIJson.h"

#include "cocos2d.h"

#include <list>
#include <string>

namespace isImageSDK {

enum ViewMode {
    VIEWMODE_NONE = 0,
    VIEWMODE_2DVIEW = 1,     // "2dview": one 2D view in the acquisition plane
    VIEWMODE_BROWSER2D = 2,  // "browser2d": one grid browser of 2 x 2 in the acquisition plane
    VIEWMODE_MPR3D = 3,      // "mpr3d": axial, coronal, volume rendering, sagittal
    VIEWMODE_MPR = 4,        // "mpr": axial and sagittal browsers on the left, coronal on the right
    VIEWMODE_MPR2 = 5,       // "mpr2": axial, sagittal and coronal columns
    VIEWMODE_2DSLICE = 6,    // "2dslice": one plain 2D view
    VIEWMODE_COMPARE2D = 7,  // "compare2d": one view per image, side by side
};

// One hanging protocol, in file order.
struct ProtocolEntry {
    std::string file;   // the picture shown for it
    std::string title;  // the menu text
    std::string type;   // a view-mode name
};

// A selection to offer protocols for.
struct ProtocolQuery {
    int seriesCount = 0;
    int sliceCount = 0;
    bool isVolume = false;
};

// The acquisition plane of a slice from the first letters of its four edge labels: 1 axial, 2
// sagittal, 3 coronal, 0 otherwise (or without a slice).
int getImagePlaneKind(const isSliceInfo* slice);

class appManager : public cocos2d::Ref, public NSUI::UIJson {
public:
    static const char* const kProtocolFile;

    static appManager* create();
    ~appManager() override;

    // Empty area, no viewer, mode 0; listens for view-mode changes (9114) addressed to it.
    bool init();
    // Removes the views, releases the container and the images.
    void clear();

    void openImage(isImageData* image, const cocos2d::Rect& area, int mode);
    void openImages(const std::list<isImageData*>& images, const cocos2d::Rect& area);
    void replaceImage(isImageData* image);
    void layoutViews(int mode);
    void layoutCompareViews();
    // The screen's image area changed (the window was resized): the container moves and resizes
    // with its views in place.
    void setArea(const cocos2d::Rect& area);

    // 9114 with a view-mode name: lays out that mode when it is known and not shown already.
    virtual void onNotification(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    // The process-wide protocol list, read from the file on first use (and again while the file
    // gave nothing). A missing or malformed file leaves it empty and logs one line.
    static std::list<ProtocolEntry*>& loadProtocols();
    // Empties the list (shutdown, tests).
    static void releaseProtocols();
    static void findProtocols(std::list<ProtocolEntry*>& out, const ProtocolQuery& q);
    // The mode of a name, exact comparison; 0 for anything else.
    static int viewModeFromName(const std::string& name);
    static const char* viewModeName(int mode);

    isViewerMulti* getViewer() const { return m_viewer; }
    int getViewMode() const { return m_mode; }
    const cocos2d::Rect& getArea() const { return m_area; }
    const std::list<isImageData*>& getImages() const { return m_images; }

protected:
    appManager() = default;

    void ensureViewer(const cocos2d::Rect& area);
    void setImages(const std::list<isImageData*>& images);
    // One view of the kind over the whole area, after clearing the container.
    void singleView(int kind, isImageData* image);

    cocos2d::Rect m_area;
    std::list<isImageData*> m_images;
    isViewerMulti* m_viewer = nullptr;
    int m_mode = VIEWMODE_NONE;
};

} // namespace isImageSDK
