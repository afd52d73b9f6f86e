// isViewer: what the containers and the application manager see of every viewer (the 2D image
// viewer, the grid browser, the volume viewer): its kind, whether it is linked with the others of
// its layout, its image and its visibility. A viewer is also a framework object; retain and
// release reach it.
#pragma once

#include "isImageData.h"

namespace isImageSDK {

// What a viewer shows.
enum ViewKind {
    VIEW_SLICE = 0,     // slices as acquired (not a volume)
    VIEW_AXIAL = 1,
    VIEW_SAGITTAL = 2,
    VIEW_CORONAL = 3,
    VIEW_OBLIQUE = 4,
    VIEW_VR = 5,
    VIEW_MIP = 6,
    VIEW_NONE = 7,
};

class isViewer {
public:
    virtual ~isViewer() = default;
    virtual void setKind(int kind) { m_kind = kind; }
    virtual void retain() = 0;
    virtual void release() = 0;
    virtual void setImageData(isImageData* image) = 0;
    virtual isImageData* getImageData() = 0;
    virtual void refresh() {}
    virtual int getState() { return 0; }
    virtual void setVisible(bool visible) = 0;

    int getKind() const { return m_kind; }
    bool isLinked() const { return m_linked; }
    void setLinked(bool linked) { m_linked = linked; }

protected:
    int m_kind = VIEW_NONE;
    bool m_linked = true;
};

} // namespace isImageSDK
