// isActorManager: the standard actors of one render window, each created on first demand and
// attached to the window. The volume actor belongs to the volume layer above this one, which
// registers a factory for it at start-up (this layer does not link upward). Main thread only.
#pragma once

#include "isActorCrossLine.h"
#include "isActorImage.h"
#include "isActorObject.h"
#include "isActorOverlay.h"
#include "isActorROI.h"

#include <functional>

namespace isImageSDK {

class isActorManager : public isObject {
public:
    // Makes a new, constructed but not yet initialised volume actor with one reference owned by
    // the caller (null when none can be made).
    using VRActorFactory = std::function<isActorObject*()>;
    // Installs (or, with an empty function, removes) the factory of the volume actor.
    static void setVRActorFactory(VRActorFactory factory);

    static isActorManager* create() { return createAutoreleased<isActorManager>(); }
    ~isActorManager() override;

    // Every actor and the window null.
    bool init() override;
    // releaseActors, then the window released.
    void clear() override;

    // Releases the actors of the old window, then holds (retains) the new one.
    void setRenderWindow(isRenderWindowHost* window);
    isRenderWindowHost* getRenderWindow() const { return m_renderWindow; }

    // The volume actor, created, initialised and attached on first use; null without a window,
    // without a factory or when its init fails.
    isActorObject* getVRActor();

    // The image actor, created on first use (retained by the manager), given the window and
    // slice 0; null without a window.
    isActorImage* getImageActor();

    // The corner overlay actor, created, initialised and attached on first use; null without a
    // window.
    isActorOverlay* getOverlayActor();
    isActorOverlay* peekOverlayActor() const { return m_overlayActor; }
    // Empties and releases the overlay actor (only while a window is set).
    void removeOverlayActor();

    // Creates, initialises and attaches the cross-line actor when a window is set and there is
    // none yet.
    void createCrossLineActor();
    // The cross-line actor, created on first use; null without a window.
    isActorCrossLine* getCrossLineActor();
    // Forwarded to the cross-line actor (created when missing); nothing without a window.
    void setBorderVisible(bool visible);
    void showCornerMarker();
    void showCrossLines();

    // The measurement container, created and attached on first use; null without a window.
    isActorROI* getROIActor();
    // The measurement container when it exists (none is made).
    isActorROI* peekROIActor() const { return m_roiActor; }

    // Releases every actor this manager holds (only while a window is set).
    void releaseActors();

private:
    // The overlay's text boxes in the window's units (none without an overlay).
    std::vector<cocos2d::Rect> overlayTextBoxes(bool edgesOnly) const;

    isRenderWindowHost* m_renderWindow = nullptr;
    isActorObject* m_vrActor = nullptr;
    isActorImage* m_imageActor = nullptr;
    isActorOverlay* m_overlayActor = nullptr;
    isActorCrossLine* m_crossLineActor = nullptr;
    isActorROI* m_roiActor = nullptr;
};

} // namespace isImageSDK
