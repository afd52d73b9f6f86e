// isViewerBrowser: the viewer of every 2D and reformatted cell. A layer holding a grid of image
// windows (rows x columns, 2 units apart) that show consecutive slices of one series, with one
// active window, cine playback, and the relay of commands between its windows and its owner (the
// multi-view container).
//
// Windows are kept in grid order: row by row from the top, left to right; window i shows slice
// (first + i) of the plane, where "first" is the slice of the first window (the cine frame).
//
// Command relay: a window hands a command up to the browser (posted with the browser as
// context). With an owner, the browser passes most commands on to it (posted from the browser,
// owner as context), and the owner sends them back down to this and the linked browsers; a
// command from the owner, or any command when there is no owner, is replayed on every window.
// Main thread only; cine runs on a scheduler timer of the browser.
#pragma once

#include "isViewer.h"
#include "isViewerImage.h"

#include "NSNotificationData.h"
#include "UIJson.h"

#include "cocos2d.h"

#include <string>
#include <vector>

namespace isImageSDK {

class isViewerBrowser : public isViewer, public cocos2d::Layer, public NSUI::UIJson {
public:
    // Gap between neighbouring windows, in browser units.
    static constexpr float kGap = 2.0f;
    // Cine: scheduler tick (s), first delay (s), ticks per frame at start and its bounds and
    // step for 9054/9055.
    static constexpr float kCineTick = 0.005f;
    static constexpr float kCineDelay = 0.1f;
    static constexpr int kCineInterval = 60;
    static constexpr int kCineSlowest = 120;
    static constexpr int kCineFastest = 5;
    static constexpr int kCineStep = 20;
    // The toast of commands refused while a window is maximised, and its time on screen (s).
    static const char* const kNormalSizeFirst;
    static constexpr float kToastSeconds = 2.0f;

    static isViewerBrowser* create();
    ~isViewerBrowser() override;

    // One window, owned by this browser and active; 1 x 1; the command subscriptions; touches one
    // at a time.
    bool init() override;
    // Timers stopped, observers removed, windows released.
    void cleanup() override;
    // Resizing lays the windows out again.
    void setContentSize(const cocos2d::Size& size) override;

    // isViewer.
    void setKind(int kind) override;
    void retain() override { cocos2d::Ref::retain(); }
    void release() override { cocos2d::Ref::release(); }
    void setImageData(isImageData* image) override;
    isImageData* getImageData() override;
    void setVisible(bool shown) override { cocos2d::Layer::setVisible(shown); }

    // The command relay. Sender: who posted (the owner, a window, nobody).
    virtual void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender);
    virtual void notificationCallback(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);

    // The container that routes commands to this browser (not retained), or null.
    void setOwner(cocos2d::Ref* owner) { m_owner = owner; }
    cocos2d::Ref* getOwner() const { return m_owner; }

    // Grid of rows x columns (values below 1 become 1). New windows take the first window's
    // image, kind, window and colour table and show the slices after its own.
    void setLayout(int rows, int cols);
    // Lays the windows out in the grid; a maximised or parked window keeps its rectangle and takes
    // its new place in the grid as the one it comes back to.
    void relayout();
    // The container grew by `grow` (negative: shrank): a maximised window covers it again from
    // its origin, with the margins it had.
    void fitMaximised(const cocos2d::Size& grow);
    // Pages to the middle of the plane: the windows show consecutive slices centred on it.
    void showMiddle();
    void setFirstSlice(int first, bool updateSlider);
    // The active window shows the slice through the point, the others its neighbours (world).
    void locate(const cocos2d::Vec3& point);
    void locateFrom(const cocos2d::Vec3& point, const cocos2d::Vec3& step);

    // Camera and window operations on every window (world points).
    void centerOn(const cocos2d::Vec3& point);
    void setZoomRatio(float ratio);
    void setWindowLevel(float width, float level);
    // Read from the first window.
    cocos2d::Vec3 getLookAtTarget() const;
    float getZoomRatio() const;
    void copyColourTable(unsigned char rgb[768]) const;
    bool getWindowLevel(float& width, float& level) const;
    // The file of the active window's current slice (the first window's without an active one).
    std::string getActiveFilePath() const;
    // The cross point of the active window (the first window's without an active one).
    cocos2d::Vec3 getCrossPoint() const;
    // The slice normal times the slice spacing of the first window (zero when not a volume).
    cocos2d::Vec3 getSliceStep() const;

    bool isMaximised() const;
    // The active window's rectangle in the browser's parent; false without an active window.
    bool getActiveRect(cocos2d::Rect& out) const;
    void hideControls();

    // Touch on the "addImage" / "delImage" buttons of an attached "root" layout.
    bool onTouchBegan(cocos2d::Touch* touch, cocos2d::Event* event) override;
    void onTouchEnded(cocos2d::Touch* touch, cocos2d::Event* event) override;

    const std::vector<isViewerImage*>& getWindows() const { return m_windows; }
    isViewerImage* getActiveWindow() const { return m_active; }
    isViewerImage* getFirstWindow() const { return m_windows.empty() ? nullptr : m_windows.front(); }
    int getRows() const { return m_rows; }
    int getColumns() const { return m_columns; }
    int getCineFrame() const { return m_frame; }
    bool isPlaying() const { return m_playing; }
    int getCineInterval() const { return m_interval; }
    // The payload text of a located point: {"x","y","z"} written "%.6f".
    static std::string pointText(const cocos2d::Vec3& p);
    // The scheduler key of the cine timer ("browser:<id>").
    std::string cineKey() const;
    // The framework object this browser registers, posts and is owned as.
    cocos2d::Ref* asRef() { return static_cast<cocos2d::Ref*>(static_cast<cocos2d::Layer*>(this)); }

protected:
    isViewerBrowser() = default;

    isViewerImage* makeWindow();
    // Slices along the first window's plane (0 without an image, oblique planes count 0).
    int sliceCount() const;
    void updateSlider();
    // Every window's command handler with this browser as sender (executed there).
    void toEveryWindow(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* except = nullptr,
                       bool onlyUnplainExcept = false);
    void postToOwner(unsigned int id, NSUI::NSNotificationData* data, bool urgent);
    bool isWindow(cocos2d::Ref* sender) const;
    void activate(isViewerImage* window);
    void deactivate();
    void cine(unsigned int id);
    void cineTick();
    void stopCine();
    void refreshOverlay(isViewerImage* window);
    cocos2d::Node* controlNamed(const char* name) const;

    cocos2d::Ref* m_owner = nullptr;
    std::vector<isViewerImage*> m_windows;
    isViewerImage* m_active = nullptr;
    int m_rows = 1;
    int m_columns = 1;
    int m_frame = 0;
    bool m_playing = false;
    int m_counter = 0;
    int m_interval = kCineInterval;
};

} // namespace isImageSDK
