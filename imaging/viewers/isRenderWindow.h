// isRenderWindow: the render window proper. A render window base that holds an image, the actor
// manager of the actors drawing into it, an interactor fed by a touch listener, and an owner (the
// container that links several windows). It turns mouse input into view commands, handles the
// view commands common to every viewer (pan, zoom, end of gesture, activation, refresh) and posts
// the edge orientation letters of its view for the corner overlay.
//
// Commands reach a window through the notification centre, with the window as context (the ids
// of collectNotificationIds), or with context 0 for 9100, 9102 and 9103. A window hands a
// gesture's end up to its owner (posted with the owner as context) and applies an end of gesture
// only when it comes from its owner, so that the owner can replay it in every linked window.
//
// The image and volume viewers derive from it, set the interactor in their init and override the
// notification handler. Main thread only.
#pragma once

#include "isActorManager.h"
#include "isActorROI.h"
#include "isImageData.h"
#include "isRenderWindowBase.h"

#include "NSNotificationData.h"

#include <string>
#include <vector>

namespace isImageSDK {

class isInteractorBase;

// Anatomical planes, and the sums of the first characters of the four edge letters that mark
// them (an axial slice shows A/P/L/R at its edges, and so on).
enum AnatomicalPlane { PLANE_AXIAL = 0, PLANE_SAGITTAL = 1, PLANE_CORONAL = 2 };
constexpr int kAxialLetterSum = 303;
constexpr int kSagittalLetterSum = 301;
constexpr int kCoronalLetterSum = 314;

// The sum of the first letters of the four edges of a plane with these row and column directions
// (world), for the patient position of the image.
int planeLetterSum(const cocos2d::Vec3& rowDirection, const cocos2d::Vec3& columnDirection, int headFeet, int posture);

class isRenderWindow : public isRenderWindowBase {
public:
    // Where a window waits, off screen, while another one is maximised, and its size there.
    static constexpr float kParkedPosition = 10000.0f;
    static constexpr float kParkedSize = 128.0f;

    // Priority of the window's touch listener.
    static constexpr int kTouchPriority = 100;

    ~isRenderWindow() override;

    // The base init; the touch listener, the actor manager bound to this window, and the
    // subscriptions (collectNotificationIds with this window as context; 9100, 9102, 9103 from
    // anyone).
    bool init() override;
    // The layout's cleanup; observers and touch listener removed; interactor, actors and image
    // released.
    void cleanup() override;

    // The command switch. Sender: who posted (the owner, this window, an interactor...).
    virtual void onNotification(unsigned int id, NSUI::NSNotificationData* data, cocos2d::Ref* sender);
    // The container that links this window with others (not retained), or null.
    virtual void setOwner(cocos2d::Ref* owner) { m_owner = owner; }
    // Posts 9089 to the observers of this window.
    virtual void notifyViewChanged();
    // Builds the corner texts; nothing here.
    virtual void buildOverlays() {}
    // Appends the ids this window subscribes to with itself as context; none here.
    virtual void collectNotificationIds(std::vector<unsigned int>& ids);
    // Calls onNotification.
    virtual void notificationCallback(cocos2d::Ref* sender, unsigned int id, NSUI::NSNotificationData* data);
    virtual void onTouchesBegan(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    virtual void onTouchesMoved(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    virtual void onTouchesEnded(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);
    virtual void onTouchesCancelled(const std::vector<cocos2d::Touch*>& touches, cocos2d::Event* event);

    // Mouse: the wheel steps slices, the right button zooms, the middle button pans.
    bool onMouseScroll(float x, float y, float scrollY) override;
    bool onMouseDown(float x, float y) override;
    bool onMouseUp(float x, float y) override;
    bool onMouseMove(float x, float y) override;

    // Posts the four edge letters of the current view (9070); nothing without an image.
    void updateOrientationLabels() override;
    // The base resize, then the view change announced.
    void setContentSize(const cocos2d::Size& size) override;
    // The base operation, and the overlay's corner and edge texts shown or hidden.
    void setVisible(bool shown) override;

    // A new image (retained): the actors are rebuilt for it. The same image does nothing.
    virtual void setImageData(isImageData* image);
    isImageData* getImage() const { return m_image; }
    // False while the image's first slice came from a file without pixel spacing.
    bool hasPixelSpacing() override;
    // The window's measurement container, made on first use; null without an actor manager.
    isActorROI* getROIActor();

    // Which volume axis (0 acquired, 1 and 2 the reformats) shows the anatomical plane (0 axial,
    // 1 sagittal, 2 coronal); 0 when none does or without an image.
    int getAxisOfPlane(int plane);

    cocos2d::Ref* getOwner() const { return m_owner; }
    isActorManager* getActorManager() const { return m_actorManager; }
    isInteractorBase* getInteractor() const { return m_interactor; }
    // Replaces the interactor (retained) and hands it this window.
    void setInteractor(isInteractorBase* interactor);
    cocos2d::EventListenerTouchAllAtOnce* getTouchListener() const { return m_touchListener; }
    const std::vector<unsigned int>& getNotificationIds() const { return m_notificationIds; }

    bool isMaximized() const { return m_maximized; }
    // Off screen, at the parked place, because another window is maximised.
    bool isParked() const { return getPosition().equals(cocos2d::Vec2(kParkedPosition, kParkedPosition)); }
    // Where a maximised or parked window comes back to when restored.
    const cocos2d::Vec2& getSavedPosition() const { return m_savedPosition; }
    const cocos2d::Size& getSavedSize() const { return m_savedSize; }
    // The layout moved this window's place while it was maximised or parked (the window was
    // resized): it comes back there instead.
    void setSavedRect(const cocos2d::Vec2& position, const cocos2d::Size& size)
    {
        m_savedPosition = position;
        m_savedSize = size;
    }

protected:
    isRenderWindow() = default;

    // Posts to the owner (context = owner), from this window; false without an owner.
    bool postToOwner(unsigned int id, NSUI::NSNotificationData* data, bool urgent);
    // "x" and "y" of a payload's JSON text (0 when absent).
    static cocos2d::Vec2 payloadXY(const NSUI::NSNotificationData* data);
    static std::string xyText(float x, float y);

    isActorManager* m_actorManager = nullptr;
    isImageData* m_image = nullptr;
    cocos2d::Ref* m_owner = nullptr;
    std::vector<unsigned int> m_notificationIds;
    isInteractorBase* m_interactor = nullptr;
    cocos2d::EventListenerTouchAllAtOnce* m_touchListener = nullptr;
    cocos2d::Vec2 m_mousePanTotal;
    float m_mouseZoomTotal = 1.0f;
    bool m_maximized = false;
    cocos2d::Vec2 m_savedPosition;
    cocos2d::Size m_savedSize;

private:
    void removeTouchListener();
};

} // namespace isImageSDK
