#include "isNodeSprite.h"

#include "isGeometry.h"

namespace isImageSDK {

bool isNodeSprite::init()
{
    if (!cocos2d::Sprite::init())
        return false;
    setDepthTestEnabled(true);
    removeCameraMask(1, true);
    return true;
}

void isNodeSprite::setNodeMatrix(const cocos2d::Mat4& m)
{
    m_nodeMatrix = m;
    double x = 0, y = 0, z = 0;
    matrixToEulerAngles(m, &x, &y, &z);
    setPosition3D(cocos2d::Vec3(m.m[12], m.m[13], m.m[14]));
    setRotation3D(cocos2d::Vec3(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
    setGlobalZOrder(0.0f);
}

void isNodeSprite::setTexture(const std::string& filename)
{
    cocos2d::Sprite::setTexture(filename);
    setNodeMatrix(cocos2d::Mat4::IDENTITY);
}

void isNodeSprite::setOriginTexel(const cocos2d::Vec2& texel)
{
    if (texel == m_originTexel)
        return;
    m_originTexel = texel;
    _transformDirty = true;
}

void isNodeSprite::setImage(isSliceInfo*) {}

void isNodeSprite::setClut(isClut*) {}

const cocos2d::Mat4& isNodeSprite::getNodeToParentTransform() const
{
    if (_transformDirty) {
        cocos2d::Mat4 pose;
        makePoseMatrix(cocos2d::Vec3::ZERO, _rotationX, _rotationY, _rotationZ, &pose);
        cocos2d::Mat4 scale;
        cocos2d::Mat4::createScale(_scaleX, _scaleY, 1.0f, &scale);
        _transform = pose * scale;
        _transform.m[12] = _position.x;
        _transform.m[13] = _position.y;
        _transform.m[14] = _positionZ;
        if (m_originTexel != cocos2d::Vec2::ZERO) {
            cocos2d::Mat4 shift;
            cocos2d::Mat4::createTranslation(-m_originTexel.x, -m_originTexel.y, 0.0f, &shift);
            _transform = _transform * shift;
        }
        if (_useAdditionalTransform)
            _transform = _transform * _additionalTransform;
        _transformDirty = false;
    }
    return _transform;
}

} // namespace isImageSDK
