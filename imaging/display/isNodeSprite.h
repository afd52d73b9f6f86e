// isNodeSprite: a sprite placed in the 3D scene by a 4-by-4 node matrix.
//
// The node matrix is a slice's image-to-patient matrix (see isSliceInfo): its rotation and
// translation become the node's 3D rotation and position, so the sprite's quad, whose node
// space runs from (0, 0) to the texture's width and height with one unit per texel, lands
// in patient space (millimetres) once the node is scaled by the pixel spacing. The node
// transform is pose x scale x translation(-origin texel): anchor point, skew and content size
// play no part in it. The origin texel is the node-space point that lands on the matrix's
// origin: (0, 0), the quad's corner, unless set (the image nodes put the centre of texel
// (0, 0) there, since a slice's matrix origin is the centre of its first pixel).
//
// Sprites draw with the depth test (they are 3D render commands, wrapped in their clipping
// ancestor's scissor) and only through the render windows' cameras: `init` takes the default
// camera's flag off the node. Base of the image nodes and of the render windows' background
// tile. Main thread only.
#pragma once

#include "isNodeObject.h"

#include "cocos2d.h"

#include <string>

namespace isImageSDK {

class isClut;
struct isSliceInfo;

class isNodeSprite : public cocos2d::Sprite, public isNodeObject {
public:
    // Allocated, init()ed and autoreleased; null when init fails.
    CREATE_FUNC(isNodeSprite);

    // Sprite::init, depth test on, default camera flag removed (node and children).
    bool init() override;

    // Stores m, takes the position from its translation column and the rotation from its
    // rotation part as Euler angles (degrees), and draws the node at global z 0.
    void setNodeMatrix(const cocos2d::Mat4& m);
    const cocos2d::Mat4& getNodeMatrix() const { return m_nodeMatrix; }

    // The sprite's texture from a file, placed with the identity matrix.
    using cocos2d::Sprite::setTexture;
    void setTexture(const std::string& filename) override;

    // Operations of the image nodes; here setRenderWindow only stores the window (not
    // retained) and the others do nothing.
    virtual void setRenderWindow(void* window) { m_renderWindow = window; }
    virtual void setImage(isSliceInfo* record);
    virtual void setClut(isClut* clut);
    virtual void markTextureDirty() {}
    virtual void markClutDirty() {}
    virtual void refreshTexture() {}
    void* getRenderWindow() const { return m_renderWindow; }

    // The node-space point (texels) placed at the node matrix's origin.
    void setOriginTexel(const cocos2d::Vec2& texel);
    const cocos2d::Vec2& getOriginTexel() const { return m_originTexel; }

    // Pose (rotation about x, y, z in degrees, makePoseMatrix) x diag(scaleX, scaleY, 1) x
    // translation(-origin texel), translated to the position; times the additional transform
    // when one is set.
    const cocos2d::Mat4& getNodeToParentTransform() const override;

protected:
    isNodeSprite() = default;
    ~isNodeSprite() override = default;

    cocos2d::Mat4 m_nodeMatrix;
    cocos2d::Vec2 m_originTexel;
    void* m_renderWindow = nullptr;
};

} // namespace isImageSDK
