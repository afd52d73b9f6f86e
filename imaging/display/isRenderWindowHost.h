// isRenderWindowHost: what the actors of this layer need of the render window they are placed
// in. The render window itself lives in the viewers layer above, which cannot be linked from
// here; it implements this interface, and actors talk to it only through it.
//
// The window is a framework node (the host node): actors add plain nodes to it as children,
// read its content size and z order, retain it while attached, and use its node address as
// the context of every subscription and post, so that one window's notifications reach only
// that window's nodes and actors.
#pragma once

#include "cocos2d.h"

namespace isImageSDK {

class isCamera;

class isRenderWindowHost {
public:
    virtual ~isRenderWindowHost() = default;

    // The window as a framework node.
    virtual cocos2d::Node* getHostNode() = 0;
    // Scene camera (world millimetres) and overlay camera (screen space).
    virtual isCamera* getSceneCamera() = 0;
    virtual isCamera* getOverlayCamera() = 0;

    // Adds the node as a child drawn through the scene camera and lists it (unretained).
    virtual void addSceneNode(cocos2d::Node* node) = 0;
    // Removes the child with cleanup and drops its first list entry.
    virtual void removeSceneNode(cocos2d::Node* node) = 0;
    // Lists the node (unretained) for the overlay camera; the window attaches it itself.
    virtual void addOverlayNode(cocos2d::Node* node) = 0;
    // Drops the node's first entry from the overlay list.
    virtual void removeOverlayNode(cocos2d::Node* node) = 0;

    // Whether a world length in the window is millimetres: false while it shows an image whose
    // file gave no pixel spacing, where one world unit is one pixel.
    virtual bool hasPixelSpacing() { return true; }

    // The context of the window's notifications.
    void* getNotificationContext() { return getHostNode(); }
};

} // namespace isImageSDK
