#include "isROIData.h"

#include <cmath>

using cocos2d::Vec3;

namespace isImageSDK {

float pointToLineDistance(const Vec3& p, const Vec3& a, const Vec3& d)
{
    const double dd = static_cast<double>(d.dot(d));
    if (!(dd > 0.0))
        return p.distance(a);
    const double t = (static_cast<double>(p.dot(d)) - static_cast<double>(a.dot(d))) / dd;
    const Vec3 foot(static_cast<float>(a.x + t * d.x), static_cast<float>(a.y + t * d.y),
                    static_cast<float>(a.z + t * d.z));
    return p.distance(foot);
}

// ---- ROIData ----

bool ROIData::init()
{
    if (!isObject::init())
        return false;
    m_kind = 0;
    m_userValues[0] = m_userValues[1] = m_userValues[2] = 0;
    m_imageKeyHash = 0;
    m_color = cocos2d::Color4F::GREEN;
    m_text.clear();
    return true;
}

void ROIData::hitTest(const Vec3&, const Vec3&, float*, int* index)
{
    *index = -1;
}

void ROIData::setPoint(int, const Vec3&) {}

Vec3 ROIData::getPoint(int) const
{
    return Vec3::ZERO;
}

void ROIData::copyBaseTo(ROIData* target) const
{
    target->m_kind = m_kind;
    for (int i = 0; i < 3; ++i)
        target->m_userValues[i] = m_userValues[i];
    target->m_imageKeyHash = m_imageKeyHash;
    target->m_color = m_color;
    target->m_text = m_text;
}

// ---- ROILine ----

bool ROILine::init()
{
    if (!ROIData::init())
        return false;
    m_kind = ROI_LINE;
    p0 = p1 = Vec3::ZERO;
    return true;
}

void ROILine::hitTest(const Vec3& origin, const Vec3& direction, float* distance, int* index)
{
    const float d0 = pointToLineDistance(p0, origin, direction);
    const float d1 = pointToLineDistance(p1, origin, direction);
    if (d1 > d0) {
        *index = 0;
        *distance = d0;
    } else {
        *index = 1;
        *distance = d1;
    }
}

void ROILine::setPoint(int index, const Vec3& p)
{
    (index == 0 ? p0 : p1) = p;
}

Vec3 ROILine::getPoint(int index) const
{
    return index == 0 ? p0 : p1;
}

bool ROILine::isValid() const
{
    return !(p0.distance(p1) < kROIMinimumExtent);
}

void ROILine::copyTo(ROILine* target) const
{
    copyBaseTo(target);
    target->p0 = p0;
    target->p1 = p1;
}

// ---- ROIAngle ----

bool ROIAngle::init()
{
    if (!ROIData::init())
        return false;
    m_kind = ROI_ANGLE;
    points[0] = points[1] = points[2] = Vec3::ZERO;
    return true;
}

void ROIAngle::hitTest(const Vec3& origin, const Vec3& direction, float* distance, int* index)
{
    float d[3];
    for (int i = 0; i < 3; ++i)
        d[i] = pointToLineDistance(points[i], origin, direction);
    int best = 2;
    if (d[1] > d[0] && d[2] > d[0])
        best = 0;
    else if (d[0] > d[1] && d[2] > d[1])
        best = 1;
    *index = best;
    *distance = d[best];
}

void ROIAngle::setPoint(int index, const Vec3& p)
{
    if (index >= 0 && index < 3)
        points[index] = p;
}

Vec3 ROIAngle::getPoint(int index) const
{
    return (index >= 0 && index < 3) ? points[index] : Vec3::ZERO;
}

bool ROIAngle::isValid() const
{
    return !(points[0].distance(points[1]) < kROIMinimumExtent) &&
           !(points[0].distance(points[2]) < kROIMinimumExtent);
}

void ROIAngle::copyTo(ROIAngle* target) const
{
    copyBaseTo(target);
    for (int i = 0; i < 3; ++i)
        target->points[i] = points[i];
}

// ---- ROIPoint ----

bool ROIPoint::init()
{
    if (!ROIData::init())
        return false;
    m_kind = ROI_POINT;
    point = Vec3::ZERO;
    return true;
}

void ROIPoint::hitTest(const Vec3& origin, const Vec3& direction, float* distance, int* index)
{
    *index = 0;
    *distance = pointToLineDistance(point, origin, direction);
}

void ROIPoint::setPoint(int, const Vec3& p)
{
    point = p;
}

Vec3 ROIPoint::getPoint(int) const
{
    return point;
}

void ROIPoint::copyTo(ROIPoint* target) const
{
    copyBaseTo(target);
    target->point = point;
}

// ---- ROICircle ----

bool ROICircle::init()
{
    if (!ROIData::init())
        return false;
    m_kind = ROI_CIRCLE;
    center = rim = Vec3::ZERO;
    return true;
}

void ROICircle::hitTest(const Vec3& origin, const Vec3& direction, float* distance, int* index)
{
    const float radius = center.distance(rim);
    Vec3 foot = origin;
    const double dd = static_cast<double>(direction.dot(direction));
    if (dd > 0.0) {
        const double t =
            (static_cast<double>(center.dot(direction)) - static_cast<double>(origin.dot(direction))) / dd;
        foot = Vec3(static_cast<float>(origin.x + t * direction.x), static_cast<float>(origin.y + t * direction.y),
                    static_cast<float>(origin.z + t * direction.z));
    }
    const float c = center.distance(foot);
    // Within 0.01 of the centre the pick gives no direction: the rim stays where it is.
    if (c >= 0.01f) {
        Vec3 towards = foot - center;
        towards.normalize();
        rim = center + towards * radius;
    }
    if (radius > c && radius * 0.5f > c) {
        *index = 0;
        *distance = 0.0f;
    } else {
        *index = 1;
        *distance = std::fabs(c - radius);
    }
}

void ROICircle::setPoint(int index, const Vec3& p)
{
    if (index == 0) {
        rim += p - center;
        center = p;
    } else {
        rim = p;
    }
}

Vec3 ROICircle::getPoint(int index) const
{
    return index == 0 ? center : rim;
}

bool ROICircle::isValid() const
{
    return center.distance(rim) > kROIMinimumExtent;
}

void ROICircle::copyTo(ROICircle* target) const
{
    copyBaseTo(target);
    target->center = center;
    target->rim = rim;
}

// ---- ROIPolygon ----

bool ROIPolygon::init()
{
    if (!ROIData::init())
        return false;
    m_kind = ROI_POLYGON;
    vertices.clear();
    return true;
}

void ROIPolygon::hitTest(const Vec3& origin, const Vec3& direction, float* distance, int* index)
{
    float best = 99999.0f;
    for (size_t i = 0; i < vertices.size(); ++i) {
        const float d = pointToLineDistance(vertices[i], origin, direction);
        if (d < best) {
            best = d;
            *index = static_cast<int>(i);
            *distance = d;
        }
    }
}

void ROIPolygon::setPoint(int index, const Vec3& p)
{
    if (index >= 0 && index < getPointCount())
        vertices[static_cast<size_t>(index)] = p;
}

Vec3 ROIPolygon::getPoint(int index) const
{
    return (index >= 0 && index < getPointCount()) ? vertices[static_cast<size_t>(index)] : Vec3::ZERO;
}

bool ROIPolygon::isValid() const
{
    const size_t n = vertices.size();
    if (n < 3)
        return false;
    if (n > 3)
        return true;
    return !(vertices[0].distance(vertices[1]) < kROIMinimumExtent) &&
           !(vertices[1].distance(vertices[2]) < kROIMinimumExtent) &&
           !(vertices[0].distance(vertices[2]) < kROIMinimumExtent);
}

void ROIPolygon::copyTo(ROIPolygon* target) const
{
    copyBaseTo(target);
    target->vertices = vertices;
}

namespace {
template <class T>
ROIData* cloneAs(const ROIData* source)
{
    const T* typed = dynamic_cast<const T*>(source);
    if (!typed)
        return nullptr;
    T* copy = T::create();
    if (copy)
        typed->copyTo(copy);
    return copy;
}
} // namespace

ROIData* cloneROIData(const ROIData* source)
{
    if (!source)
        return nullptr;
    switch (source->getKind()) {
    case ROI_LINE: return cloneAs<ROILine>(source);
    case ROI_ANGLE: return cloneAs<ROIAngle>(source);
    case ROI_POINT: return cloneAs<ROIPoint>(source);
    case ROI_CIRCLE: return cloneAs<ROICircle>(source);
    case ROI_POLYGON: return cloneAs<ROIPolygon>(source);
    default: return nullptr;
    }
}

} // namespace isImageSDK
