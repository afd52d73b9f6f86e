// isNodeObject: the marker mixed into every node class of the imaging layer (image nodes,
// draw nodes, cameras, render windows), so that code walking a scene can tell the imaging
// layer's nodes from the framework's own. It carries no state.
#pragma once

namespace isImageSDK {

class isNodeObject {
public:
    virtual ~isNodeObject() = default;
    // Does nothing; the one virtual operation of the marker.
    virtual void nodeObject() {}
};

} // namespace isImageSDK
