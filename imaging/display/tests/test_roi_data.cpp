// Measurement records: validity thresholds, editing, picking, copies, and the process-wide list
// with its shutdown step.
#include "isROIData.h"
#include "isROIManager.h"

#include "isImagingShutdown.h"

#include "support/SliceRecords.h"

#include <gtest/gtest.h>

using namespace isImageSDK;
using cocos2d::Vec3;

namespace {

// A record owned by the caller alone (its autorelease already drained).
template <class T>
T* retained()
{
    qvtest::PoolScope pool;
    T* record = T::create();
    record->retain();
    return record;
}

TEST(ROIRecords, ValidityThresholds)
{
    qvtest::PoolScope pool;
    ROILine* line = ROILine::create();
    line->setPoint(1, Vec3(0.05f, 0, 0));
    EXPECT_TRUE(line->isValid());  // exactly 0.05 apart is enough for a line
    line->setPoint(7, Vec3(0.04f, 0, 0));
    EXPECT_FALSE(line->isValid());

    ROICircle* circle = ROICircle::create();
    circle->setPoint(1, Vec3(0.05f, 0, 0));
    EXPECT_FALSE(circle->isValid());  // but not for a circle
    circle->setPoint(1, Vec3(0.06f, 0, 0));
    EXPECT_TRUE(circle->isValid());

    ROIAngle* angle = ROIAngle::create();
    angle->setPoint(1, Vec3(1, 0, 0));
    EXPECT_FALSE(angle->isValid());
    angle->setPoint(2, Vec3(0, 1, 0));
    EXPECT_TRUE(angle->isValid());

    ROIPolygon* poly = ROIPolygon::create();
    poly->vertices = {Vec3(0, 0, 0), Vec3(0, 0, 0), Vec3(5, 5, 0)};
    EXPECT_FALSE(poly->isValid());
    poly->vertices.push_back(Vec3(5, 0, 0));
    EXPECT_TRUE(poly->isValid());
    poly->vertices = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0)};
    EXPECT_TRUE(poly->isValid());
}

TEST(ROIRecords, EditingAndOutOfRangeIndices)
{
    qvtest::PoolScope pool;
    ROICircle* circle = ROICircle::create();
    circle->setPoint(0, Vec3(1, 1, 0));
    circle->setPoint(1, Vec3(4, 5, 0));
    circle->setPoint(0, Vec3(10, 10, 2));  // moves the whole circle
    EXPECT_EQ(circle->getPoint(0), Vec3(10, 10, 2));
    EXPECT_EQ(circle->getPoint(1), Vec3(13, 14, 2));

    ROIAngle* angle = ROIAngle::create();
    angle->setPoint(2, Vec3(1, 2, 3));
    angle->setPoint(5, Vec3(9, 9, 9));
    angle->setPoint(-1, Vec3(9, 9, 9));
    EXPECT_EQ(angle->getPoint(2), Vec3(1, 2, 3));
    EXPECT_EQ(angle->getPoint(0), Vec3::ZERO);
    EXPECT_EQ(angle->getPoint(5), Vec3::ZERO);

    ROIPolygon* poly = ROIPolygon::create();
    poly->vertices = {Vec3(1, 0, 0), Vec3(2, 0, 0)};
    poly->setPoint(1, Vec3(7, 7, 7));
    poly->setPoint(2, Vec3(8, 8, 8));
    EXPECT_EQ(poly->getPointCount(), 2);
    EXPECT_EQ(poly->getPoint(1), Vec3(7, 7, 7));
    EXPECT_EQ(poly->getPoint(2), Vec3::ZERO);

    ROIPoint* point = ROIPoint::create();
    point->setPoint(3, Vec3(4, 4, 4));
    EXPECT_EQ(point->getPoint(0), Vec3(4, 4, 4));
}

TEST(ROIRecords, PickLinesSelectTheNearestPoint)
{
    qvtest::PoolScope pool;
    const Vec3 down(0, 0, -1);
    EXPECT_FLOAT_EQ(pointToLineDistance(Vec3(3, 4, 7), Vec3(0, 0, 100), down), 5.0f);
    EXPECT_FLOAT_EQ(pointToLineDistance(Vec3(3, 4, 0), Vec3(0, 0, 0), Vec3::ZERO), 5.0f);

    ROILine* line = ROILine::create();
    line->p0 = Vec3(0, 0, 0);
    line->p1 = Vec3(10, 0, 0);
    float distance = -1;
    int index = -5;
    line->hitTest(Vec3(2, 0, 50), down, &distance, &index);
    EXPECT_EQ(index, 0);
    EXPECT_FLOAT_EQ(distance, 2.0f);
    line->hitTest(Vec3(5, 0, 50), down, &distance, &index);
    EXPECT_EQ(index, 1);  // a tie selects the second end

    ROIAngle* angle = ROIAngle::create();
    angle->points[1] = Vec3(10, 0, 0);
    angle->points[2] = Vec3(0, 10, 0);
    angle->hitTest(Vec3(1, 1, 5), down, &distance, &index);
    EXPECT_EQ(index, 0);
    angle->hitTest(Vec3(9, 0, 5), down, &distance, &index);
    EXPECT_EQ(index, 1);
    angle->hitTest(Vec3(0, 8, 5), down, &distance, &index);
    EXPECT_EQ(index, 2);
    EXPECT_FLOAT_EQ(distance, 2.0f);

    ROIPolygon* poly = ROIPolygon::create();
    index = -7;
    poly->hitTest(Vec3(0, 0, 5), down, &distance, &index);
    EXPECT_EQ(index, -7);  // no vertex, nothing written
    poly->vertices = {Vec3(0, 0, 0), Vec3(5, 0, 0), Vec3(5, 5, 0)};
    poly->hitTest(Vec3(4, 1, 5), down, &distance, &index);
    EXPECT_EQ(index, 1);

    ROIData* base = ROIData::create();
    index = 3;
    base->hitTest(Vec3::ZERO, down, &distance, &index);
    EXPECT_EQ(index, -1);
}

TEST(ROIRecords, PickingACircleTurnsItsRim)
{
    qvtest::PoolScope pool;
    ROICircle* circle = ROICircle::create();
    circle->center = Vec3(0, 0, 0);
    circle->rim = Vec3(10, 0, 0);
    float distance = -1;
    int index = -1;
    // Through the inner half of the disc: the centre, distance 0, rim turned to the pick.
    circle->hitTest(Vec3(0, 3, 20), Vec3(0, 0, -1), &distance, &index);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(distance, 0.0f);
    EXPECT_NEAR(circle->rim.x, 0.0f, 1e-5f);
    EXPECT_NEAR(circle->rim.y, 10.0f, 1e-5f);
    // Near the rim: the rim, at its distance from the circle.
    circle->hitTest(Vec3(-12, 0, 20), Vec3(0, 0, -1), &distance, &index);
    EXPECT_EQ(index, 1);
    EXPECT_NEAR(distance, 2.0f, 1e-5f);
    EXPECT_NEAR(circle->rim.x, -10.0f, 1e-5f);
    // Straight through the centre: no direction, the rim stays and the circle stays valid.
    circle->hitTest(Vec3(0, 0, 20), Vec3(0, 0, -1), &distance, &index);
    EXPECT_EQ(index, 0);
    EXPECT_NEAR(circle->rim.x, -10.0f, 1e-5f);
    EXPECT_TRUE(circle->isValid());
}

TEST(ROIRecords, CopiesCarryEverything)
{
    qvtest::PoolScope pool;
    ROIPolygon* a = ROIPolygon::create();
    a->vertices = {Vec3(1, 2, 3), Vec3(4, 5, 6)};
    a->setImageKeyHash(0xdeadbeef);
    a->setText("Avg:1");
    a->setUserValue(2, 17);
    a->setColor(cocos2d::Color4F::RED);
    ROIPolygon* b = ROIPolygon::create();
    b->vertices = {Vec3(9, 9, 9), Vec3(9, 9, 9), Vec3(9, 9, 9)};
    a->copyTo(b);
    ASSERT_EQ(b->getPointCount(), 2);  // replaced, not appended
    EXPECT_EQ(b->getPoint(1), Vec3(4, 5, 6));
    EXPECT_EQ(b->getImageKeyHash(), 0xdeadbeefu);
    EXPECT_EQ(b->getText(), "Avg:1");
    EXPECT_EQ(b->getUserValue(2), 17);
    EXPECT_TRUE(b->getColor() == cocos2d::Color4F::RED);

    ROICircle* c = ROICircle::create();
    c->center = Vec3(1, 1, 1);
    c->rim = Vec3(2, 2, 2);
    c->setImageKeyHash(5);
    ROIData* copy = cloneROIData(c);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, c);
    EXPECT_EQ(copy->getKind(), ROI_CIRCLE);
    EXPECT_EQ(copy->getPoint(1), Vec3(2, 2, 2));
    EXPECT_EQ(copy->getImageKeyHash(), 5u);
    c->setPoint(1, Vec3(7, 7, 7));
    EXPECT_EQ(copy->getPoint(1), Vec3(2, 2, 2));  // independent of later edits
    EXPECT_EQ(cloneROIData(ROIData::create()), nullptr);
}

TEST(ROIManagerList, AddRemoveAndShutdown)
{
    ROILine* line = retained<ROILine>();
    ROIPoint* point = retained<ROIPoint>();
    {
        qvtest::PoolScope pool;
        isROIManager* manager = isROIManager::getInstance();
        ASSERT_NE(manager, nullptr);
        EXPECT_EQ(isROIManager::getInstance(), manager);
        manager->addROI(line);
        const unsigned count = line->getReferenceCount();
        manager->addROI(line);  // the same object again: nothing changes
        EXPECT_EQ(line->getReferenceCount(), count);
        manager->addROI(point);
        manager->addROI(nullptr);
        ASSERT_EQ(manager->getROIs().size(), 2u);
        EXPECT_EQ(manager->getROIs()[0], line);
        EXPECT_TRUE(manager->removeROI(line));
        EXPECT_FALSE(manager->removeROI(line));
        EXPECT_EQ(line->getReferenceCount(), 1u);
    }
    // The imaging shutdown releases the list and every record in it.
    EXPECT_EQ(point->getReferenceCount(), 2u);
    shutdownImageSDK();
    EXPECT_EQ(isROIManager::peekInstance(), nullptr);
    EXPECT_EQ(point->getReferenceCount(), 1u);
    // A new list after shutdown installs its step again.
    {
        qvtest::PoolScope pool;
        isROIManager::getInstance()->addROI(point);
    }
    shutdownImageSDK();
    EXPECT_EQ(isROIManager::peekInstance(), nullptr);
    EXPECT_EQ(point->getReferenceCount(), 1u);
    line->release();
    point->release();
}

} // namespace
