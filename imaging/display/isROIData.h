// Measurement records: a line, an angle, a point, a circle or a polygon drawn on an image, kept
// as world points (patient millimetres) independent of how it is drawn. Every record carries the
// folded hash of the image key of the slice it was drawn on, so that a window can show exactly the
// measurements of the slice it displays. Main thread only.
#pragma once

#include "isObject.h"

#include <cstdint>
#include <string>
#include <vector>

namespace isImageSDK {

enum ROIType {
    ROI_LINE = 1,
    ROI_ANGLE = 2,
    ROI_POINT = 3,
    ROI_CIRCLE = 4,
    ROI_POLYGON = 5,
};

// Records closer than this (millimetres) count as degenerate.
constexpr float kROIMinimumExtent = 0.05f;

// Distance from p to the infinite line through a with direction d. A zero direction gives the
// distance from p to a.
float pointToLineDistance(const cocos2d::Vec3& p, const cocos2d::Vec3& a, const cocos2d::Vec3& d);

class ROIData : public isObject {
public:
    static ROIData* create() { return createAutoreleased<ROIData>(); }
    bool init() override;

    // Which point of the measurement the pick line (origin, direction) passes nearest: its index
    // and its distance. The base record has no point: index -1, distance untouched.
    virtual void hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction, float* distance,
                         int* index);
    virtual void setPoint(int index, const cocos2d::Vec3& p);
    virtual int getPointCount() const { return 0; }
    virtual cocos2d::Vec3 getPoint(int index) const;
    virtual bool isValid() const { return true; }
    // Copies kind, the three user values, image key hash, colour and text.
    virtual void copyBaseTo(ROIData* target) const;

    int getKind() const { return m_kind; }
    uint32_t getImageKeyHash() const { return m_imageKeyHash; }
    void setImageKeyHash(uint32_t hash) { m_imageKeyHash = hash; }
    const cocos2d::Color4F& getColor() const { return m_color; }
    void setColor(const cocos2d::Color4F& color) { m_color = color; }
    // The last statistics answer shown under the measurement.
    void setText(const std::string& text) { m_text = text; }
    std::string getText() const { return m_text; }
    // Three integers free for the application; cleared by init and carried by the copies.
    int getUserValue(int i) const { return (i >= 0 && i < 3) ? m_userValues[i] : 0; }
    void setUserValue(int i, int value)
    {
        if (i >= 0 && i < 3)
            m_userValues[i] = value;
    }

protected:
    int m_kind = 0;
    int m_userValues[3] = {0, 0, 0};
    uint32_t m_imageKeyHash = 0;
    cocos2d::Color4F m_color = cocos2d::Color4F::GREEN;
    std::string m_text;
};

class ROILine : public ROIData {
public:
    static ROILine* create() { return createAutoreleased<ROILine>(); }
    bool init() override;
    void hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction, float* distance,
                 int* index) override;
    void setPoint(int index, const cocos2d::Vec3& p) override;
    int getPointCount() const override { return 2; }
    cocos2d::Vec3 getPoint(int index) const override;
    bool isValid() const override;
    virtual void copyTo(ROILine* target) const;

    cocos2d::Vec3 p0, p1;
};

class ROIAngle : public ROIData {
public:
    static ROIAngle* create() { return createAutoreleased<ROIAngle>(); }
    bool init() override;
    void hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction, float* distance,
                 int* index) override;
    // Indices outside 0 to 2 are ignored.
    void setPoint(int index, const cocos2d::Vec3& p) override;
    int getPointCount() const override { return 3; }
    // The zero vector for indices outside 0 to 2.
    cocos2d::Vec3 getPoint(int index) const override;
    bool isValid() const override;
    virtual void copyTo(ROIAngle* target) const;

    // The vertex of the angle first, then the ends of its two legs.
    cocos2d::Vec3 points[3];
};

class ROIPoint : public ROIData {
public:
    static ROIPoint* create() { return createAutoreleased<ROIPoint>(); }
    bool init() override;
    void hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction, float* distance,
                 int* index) override;
    void setPoint(int index, const cocos2d::Vec3& p) override;
    int getPointCount() const override { return 1; }
    cocos2d::Vec3 getPoint(int index) const override;
    virtual void copyTo(ROIPoint* target) const;

    cocos2d::Vec3 point;
};

class ROICircle : public ROIData {
public:
    static ROICircle* create() { return createAutoreleased<ROICircle>(); }
    bool init() override;
    // Also turns the rim point towards the pick, keeping the radius, so that a following drag of
    // the rim starts where the user grabbed the circle.
    void hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction, float* distance,
                 int* index) override;
    // Index 0 moves the whole circle; any other index moves the rim.
    void setPoint(int index, const cocos2d::Vec3& p) override;
    int getPointCount() const override { return 2; }
    cocos2d::Vec3 getPoint(int index) const override;
    bool isValid() const override;
    virtual void copyTo(ROICircle* target) const;

    cocos2d::Vec3 center, rim;
};

class ROIPolygon : public ROIData {
public:
    static ROIPolygon* create() { return createAutoreleased<ROIPolygon>(); }
    bool init() override;
    void hitTest(const cocos2d::Vec3& origin, const cocos2d::Vec3& direction, float* distance,
                 int* index) override;
    // Indices outside the vertex list are ignored.
    void setPoint(int index, const cocos2d::Vec3& p) override;
    int getPointCount() const override { return static_cast<int>(vertices.size()); }
    // The zero vector for indices outside the vertex list.
    cocos2d::Vec3 getPoint(int index) const override;
    bool isValid() const override;
    // Replaces the target's vertices with copies of these.
    virtual void copyTo(ROIPolygon* target) const;

    std::vector<cocos2d::Vec3> vertices;
};

// A new record of the same class as `source` holding a copy of it (autoreleased); null for a
// record of no known kind.
ROIData* cloneROIData(const ROIData* source);

} // namespace isImageSDK
