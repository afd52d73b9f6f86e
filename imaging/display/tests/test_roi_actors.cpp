// The measurement actors and their container in a headless window over the phantom: labels and
// their placement, label drags, editing steps, statistics asked of the window's image actor and
// equal to a brute-force scan of the same pixels for every grey pixel type (none for RGB),
// measurements kept per slice and shown again, numbering, picking, and degenerate shapes.
#include "isActorManager.h"
#include "isActorROI.h"
#include "isROILabelLayout.h"
#include "isROIManager.h"
#include "isROIStatistics.h"
#include "support/DisplayScene.h"
#include "support/FakeRenderWindow.h"
#include "support/PhantomVolume.h"
#include "support/SliceRecords.h"

#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSStringUtil.h"
#include "UIJson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace isImageSDK;
using cocos2d::Vec2;
using cocos2d::Vec3;
using NSUI::NSNotificationCenter;

namespace {

int twoMillimetres()
{
    return static_cast<int>(cocos2d::Device::getDPI() * 2 / 25.4);
}

class Measurements : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.startHeadless();
        rig.lookAt(0, 0);  // world (x, y, 0) at window (320 + x, 240 - y)
        window = qvtest::FakeRenderWindow::create();
        window->sceneCamera = rig.camera;
        rig.scene->addChild(window);
        manager = isActorManager::create();
        manager->retain();
        manager->setRenderWindow(window);
        rois = manager->getROIActor();
        NSNotificationCenter::getInstance()->addObserver(
            rig.scene, window,
            [this](cocos2d::Ref* sender, unsigned, NSUI::NSNotificationData* data) {
                if (data && !data->object)
                    answers.push_back({sender, data->text});
                else
                    ++requests;
            },
            NOTIFY_ROI_CHANGED);
    }
    void TearDown() override
    {
        NSNotificationCenter::getInstance()->removeObserver(rig.scene);
        manager->release();
        isROIManager::destroyInstance();
        rig.stop();
    }

    void frames(int n = 3)
    {
        for (int i = 0; i < n; ++i)
            rig.frame();
    }
    // The window announces a drawn frame; the actors redraw in the next delivery.
    void drawn()
    {
        NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_RENDER_WINDOW_UPDATED, nullptr, window,
                                                              true);
        rig.frame();
    }
    // Shows the phantom in the window's image actor (middle slice, as acquired).
    isActorImage* show(const qvgen::Phantom& phantom, int pixelType)
    {
        isImageData* image = qvtest::phantomVolume(phantom, pixelType);
        EXPECT_NE(image, nullptr);
        isActorImage* actor = manager->getImageActor();
        rois->setImageKey("phantom" + std::to_string(pixelType));
        actor->setImageData(image);
        frames();
        return actor;
    }
    Vec3 patientOf(const qvgen::Phantom& phantom, const double local[3])
    {
        double p[3];
        phantom.localToPatient(local, p);
        return Vec3(float(p[0]), float(p[1]), float(p[2]));
    }

    struct Answer {
        cocos2d::Ref* sender;
        std::string text;
    };
    qvtest::DisplayScene rig;
    qvtest::FakeRenderWindow* window = nullptr;
    isActorManager* manager = nullptr;
    isActorROI* rois = nullptr;
    std::vector<Answer> answers;
    int requests = 0;
};

// The number after "key:" in a statistics text.
double field(const std::string& text, const std::string& key)
{
    const size_t at = text.find(key + ":");
    return at == std::string::npos ? NAN : std::atof(text.c_str() + at + key.size() + 1);
}

using Brute = qvtest::RegionReference;

void expectMatches(const std::string& text, const Brute& b)
{
    ASSERT_GT(b.count, 0) << text;
    EXPECT_NEAR(field(text, "Avg"), b.mean, 0.006) << text;
    EXPECT_NEAR(field(text, "StdDev"), b.deviation, 0.006 + 1e-5 * b.deviation) << text;
    EXPECT_NEAR(field(text, "Total"), b.total, 0.006 + 1e-6 * std::fabs(b.total)) << text;
    EXPECT_NEAR(field(text, "Min"), b.minimum, 0.006) << text;
    EXPECT_NEAR(field(text, "Max"), b.maximum, 0.006) << text;
}

} // namespace


TEST_F(Measurements, LineAndAngleLabelTheirValuesNextToTheShape)
{
    ROILine* line = ROILine::create();
    line->setPoint(0, Vec3(0, 0, 0));
    line->setPoint(1, Vec3(30, 40, 0));
    isActorROILine* actor = isActorROILine::create();
    rois->adoptROI(actor, line, 1);
    EXPECT_EQ(actor->getNumber(), 1);
    EXPECT_EQ(rois->getNextNumber(), 2);
    EXPECT_TRUE(isROIManager::getInstance()->containsROI(line));
    EXPECT_EQ(line->getImageKeyHash(), rois->getImageKeyHash());
    drawn();
    ASSERT_NE(actor->getLabel(), nullptr);
    EXPECT_EQ(actor->getLabel()->getString(), "50.0mm");
    // Window points of the ends: (320, 240) and (350, 200).
    EXPECT_NEAR(actor->getLabel()->getPosition().x, 320, 0.01);
    EXPECT_NEAR(actor->getLabel()->getPosition().y, 240 + twoMillimetres(), 0.01);
    EXPECT_EQ(actor->getLabel()->getParent(), window);
    EXPECT_FALSE(actor->isDirty());
    // The segment and the two handles (point 1 selected).
    EXPECT_EQ(actor->getShapeNode()->getLineVertexCount(), 2);
    ASSERT_EQ(actor->getShapeNode()->getPointCount(), 2);
    EXPECT_EQ(actor->getShapeNode()->getPointVertices()[1].colors, cocos2d::Color4B::RED);

    // Dragging the end redraws on the next frame only.
    actor->setCurrentPoint(Vec3(0, 10, 0));
    EXPECT_TRUE(actor->isDirty());
    drawn();
    EXPECT_EQ(actor->getLabel()->getString(), "10.0mm");
    // In a window whose image has no pixel spacing the world unit is a pixel, and the label says so.
    window->pixelSpacing = false;
    actor->setDirty(true);
    drawn();
    EXPECT_EQ(actor->getLabel()->getString(), "10.0px");
    window->pixelSpacing = true;
    actor->setDirty(true);
    drawn();

    // Dragging the label: the number joins the text, the number label appears left of the shape.
    isNodeText* label = actor->getLabel();
    const Vec2 start = label->convertToWorldSpace(Vec2(2, 2));
    const float height = cocos2d::Director::getInstance()->getWinSize().height;
    cocos2d::Touch touch;
    touch.setTouchInfo(0, start.x, height - start.y);
    ASSERT_TRUE(label->onTouchBegan(&touch, nullptr));
    touch.setTouchInfo(0, start.x + 20, height - start.y - 10);
    label->onTouchMoved(&touch, nullptr);
    label->onTouchEnded(&touch, nullptr);
    frames(2);
    drawn();
    EXPECT_EQ(label->getString(), "1. 10.0mm");
    ASSERT_NE(actor->getNumberLabel(), nullptr);
    EXPECT_EQ(actor->getNumberLabel()->getString(), "1 ");
    EXPECT_NEAR(actor->getNumberLabel()->getPosition().x, 320 - twoMillimetres(), 0.01);

    // A right angle; the legs grow step by step.
    isActorROIAngle* angle = rois->addAngleROI(Vec3(0, 0, 0));
    ASSERT_NE(angle, nullptr);
    EXPECT_EQ(angle->getNumber(), 2);
    EXPECT_EQ(angle->getCurrentPointIndex(), 1);
    EXPECT_FALSE(angle->isValid());
    angle->advanceStep();  // the first leg is still empty
    EXPECT_EQ(angle->getCurrentPointIndex(), 1);
    angle->setCurrentPoint(Vec3(10, 0, 0));
    angle->advanceStep();
    EXPECT_EQ(angle->getCurrentPointIndex(), 2);
    angle->setCurrentPoint(Vec3(0, 7, 0));
    angle->advanceStep();
    EXPECT_TRUE(angle->isFinished());
    drawn();
    ASSERT_NE(angle->getLabel(), nullptr);
    EXPECT_EQ(angle->getLabel()->getString(), "90.0deg");
    EXPECT_EQ(requests, 0) << "lines and angles compute their own values";
}

TEST_F(Measurements, StatisticsComeFromTheImageActorAndMatchTheSlicePixels)
{
    qvgen::PhantomSpec spec;
    spec.slices = 8;
    spec.columnSpacing = 0.8;
    spec.rowSpacing = 0.8;
    for (int pixelType : {PIXEL_I16, PIXEL_U16, PIXEL_U8}) {
        SCOPED_TRACE(pixelType);
        spec.modality = pixelType == PIXEL_U16 ? "MR" : "CT";
        const qvgen::Phantom phantom(spec);
        isActorImage* image = show(phantom, pixelType);
        const isSliceInfo* slice = image->getCurrentSlice();
        ASSERT_NE(slice, nullptr);
        EXPECT_EQ(image->getSliceIndex(), 4);
        const cocos2d::Mat4 inverse = slice->matrix.getInversed();

        // A circle over the contrast sphere and the body around it.
        const qvgen::PhantomShape* sphere = phantom.shape("contrast");
        const Vec3 centre = patientOf(phantom, sphere->center);
        const double rimLocal[3] = {sphere->center[0] + 1.5 * sphere->halfSize[0], sphere->center[1],
                                    sphere->center[2]};
        ROICircle* circle = ROICircle::create();
        circle->setPoint(0, centre);
        circle->setPoint(1, patientOf(phantom, rimLocal));
        isActorROICircle* circleActor = isActorROICircle::create();
        rois->adoptROI(circleActor, circle, -1);

        // A polygon over the cube and beyond it (a triangle).
        const qvgen::PhantomShape* cube = phantom.shape("cube");
        const double a[3] = {cube->center[0] - 2 * cube->halfSize[0], cube->center[1] - cube->halfSize[1], cube->center[2]};
        const double b[3] = {cube->center[0] + cube->halfSize[0], cube->center[1] - cube->halfSize[1], cube->center[2]};
        const double c[3] = {cube->center[0], cube->center[1] + 1.5 * cube->halfSize[1], cube->center[2]};
        ROIPolygon* triangle = ROIPolygon::create();
        triangle->vertices = {patientOf(phantom, a), patientOf(phantom, b), patientOf(phantom, c)};
        isActorROIPolygon* polygonActor = isActorROIPolygon::create();
        rois->adoptROI(polygonActor, triangle, -1);
        EXPECT_TRUE(polygonActor->isFinished());

        // A point on the bone.
        const Vec3 bone = patientOf(phantom, phantom.shape("bone")->center);
        isActorROIPoint* pointActor = rois->addPointROI(bone);

        answers.clear();
        drawn();
        // Requests are normal notifications: one a frame, after what is queued before them.
        for (int i = 0; i < 60 && answers.size() < 3; ++i)
            rig.frame();
        ASSERT_EQ(answers.size(), 3u);

        // Brute force over the slice, pixel (i, j) at slice millimetres (i sx, j sy).
        Vec3 local = centre;
        inverse.transformPoint(&local);
        const float r = centre.distance(circle->rim);
        const Brute disc = qvtest::bruteForceRegion(*slice, [&](int i, int j) {
            const float dx = i * slice->spacingX - local.x, dy = j * slice->spacingY - local.y;
            return dx * dx + dy * dy <= r * r;
        });
        expectMatches(circle->getText(), disc);
        EXPECT_EQ(circleActor->getLabel()->getString(), circle->getText());
        EXPECT_NEAR(field(circle->getText(), "Area"), r * 3.1415926 * r * 0.01, 0.006);

        std::vector<float> xy;
        for (const Vec3& v : triangle->vertices) {
            Vec3 p = v;
            inverse.transformPoint(&p);
            xy.push_back(float(p.x / slice->spacingX + 0.5));
            xy.push_back(float(p.y / slice->spacingY + 0.5));
        }
        const Brute inside = qvtest::bruteForceRegion(*slice, [&](int i, int j) { return pointInPolygon(xy.data(), 3, float(i), float(j)) == 1; });
        expectMatches(triangle->getText(), inside);
        EXPECT_GT(inside.maximum, inside.minimum) << "the triangle covers the cube and the body";

        const double boneValue = pixelType == PIXEL_U16 ? 120 : pixelType == PIXEL_U8 ? 30 * 3 : 1000;
        EXPECT_EQ(field(pointActor->getROIData()->getText(), "Value"), boneValue) << pointActor->getROIData()->getText();

        // Another slice hides them; coming back shows them again with their numbers.
        image->setSliceIndex(5);
        frames();
        EXPECT_TRUE(rois->getROIActors().empty());
        image->setSliceIndex(4);
        frames();
        ASSERT_EQ(rois->getROIActors().size(), 3u);
        EXPECT_EQ(rois->getROIActors()[0]->getROIData(), circle);
        EXPECT_EQ(rois->getROIActors()[2]->getNumber(), 3);
        EXPECT_EQ(rois->getNextNumber(), 4);
    }

    // RGB slices get no statistics: the labels keep what they had.
    const qvgen::Phantom phantom(spec);
    show(phantom, PIXEL_RGB);
    isActorROIPoint* point = rois->addPointROI(Vec3(0, 0, 1));
    answers.clear();
    const int before = requests;
    drawn();
    for (int i = 0; i < 60 && requests == before; ++i)
        rig.frame();
    ASSERT_EQ(requests, before + 1) << "the point asked";
    frames(2);
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(point->getROIData()->getText(), "");
}

// On a record of several frames (a loop, a dynamic) a measurement reads the frame shown, and
// reads again when another frame is stepped to.
TEST_F(Measurements, MeasurementsOnALoopReadTheFrameShown)
{
    isImageData* loop = isImageData::create();
    const int size[2] = {4, 4};
    const float spacing[2] = {1, 1};
    isSliceInfo* record = loop->addSlice(size, 3, spacing, PIXEL_U16, 0, 0, cocos2d::Mat4::IDENTITY);
    ASSERT_NE(record, nullptr);
    for (int f = 0; f < 3; ++f)
        for (int p = 0; p < 16; ++p)
            reinterpret_cast<uint16_t*>(record->pixels)[16 * f + p] = static_cast<uint16_t>(100 * (f + 1));
    record->pixelsLoaded = 1;
    rois->setImageKey("loop");
    // Drawn by the scene camera: the node takes the record, whose frames it steps through.
    manager->getImageActor()->getImageNode()->setCameraMask(qvtest::kSceneFlag, true);
    manager->getImageActor()->setImageData(loop);
    frames();
    isActorROIPoint* point = rois->addPointROI(Vec3(1, 2, 0));
    auto readValue = [&] {
        answers.clear();
        drawn();
        for (int i = 0; i < 60 && answers.empty(); ++i)
            rig.frame();
        return field(point->getROIData()->getText(), "Value");
    };
    EXPECT_EQ(readValue(), 100);
    for (int f = 1; f < 3; ++f) {
        NSNotificationCenter::getInstance()->postNotification(nullptr, NOTIFY_FRAME_NEXT, nullptr, window, true);
        frames();
        EXPECT_EQ(readValue(), 100 * (f + 1)) << "frame " << f;
    }
}

TEST_F(Measurements, AnswersForOtherMeasurementsOrKeysAreIgnored)
{
    isActorROIPoint* point = rois->addPointROI(Vec3(1, 2, 3));
    drawn();
    frames(2);
    EXPECT_EQ(requests, 1);
    auto answer = [&](int number, uint32_t key) {
        NSUI::NSNotificationData* data = NSUI::NSNotificationData::create();
        data->text = "Value:7";
        data->intValue = number;
        data->intValue2 = static_cast<int>(key);
        NSNotificationCenter::getInstance()->postNotification(rig.scene, NOTIFY_ROI_CHANGED, data, window, true);
        rig.frame();
    };
    answer(2, point->getROIData()->getImageKeyHash());
    answer(1, point->getROIData()->getImageKeyHash() + 1);
    EXPECT_EQ(point->getROIData()->getText(), "");
    answer(1, point->getROIData()->getImageKeyHash());
    EXPECT_EQ(point->getROIData()->getText(), "Value:7");
    EXPECT_EQ(point->getLabel()->getString(), "Value:7");
}

TEST_F(Measurements, NumbersPickingAndRemoval)
{
    ROILine* line = ROILine::create();
    line->setPoint(0, Vec3(0, 0, 0));
    line->setPoint(1, Vec3(40, 0, 0));
    isActorROILine* first = isActorROILine::create();
    rois->adoptROI(first, line, -1);
    isActorROIPoint* second = rois->addPointROI(Vec3(-50, -50, 0));
    isActorROIPoint* third = rois->addPointROI(Vec3(50, 50, 0));
    EXPECT_EQ(third->getNumber(), 3);

    // Picks along the view direction: 10 pixels from the line's far end selects it, 20 nothing.
    const Vec3 forward(0, 0, 1);
    EXPECT_EQ(rois->hitTest(Vec3(40, 10, -100), forward), first);
    EXPECT_EQ(first->getCurrentPointIndex(), 1);
    EXPECT_EQ(rois->hitTest(Vec3(40, 20, -100), forward), nullptr);
    EXPECT_EQ(rois->hitTest(Vec3(-48, -49, -100), forward), second);

    // Removing the last number gives it out again; removing an earlier one does not.
    rois->removeROIActor(third);
    EXPECT_EQ(rois->getNextNumber(), 3);
    rois->removeROIById(line->getRefID());
    EXPECT_EQ(rois->getNextNumber(), 3);
    EXPECT_FALSE(isROIManager::getInstance()->containsROI(line));
    ASSERT_EQ(rois->getROIActors().size(), 1u);
    EXPECT_EQ(rois->getROIActors()[0], second);
    rois->removeROIById(0xFFFFFFFFu);
    EXPECT_EQ(rois->getROIActors().size(), 1u);

    // A slice notice without "index" means slice 0 of the key.
    NSNotificationCenter::getInstance()->postStringNotification(rig.scene, NOTIFY_IMAGE_SLICE_CHANGED, "{}", window,
                                                                true);
    rig.frame();
    EXPECT_EQ(rois->getSliceIndex(), 0);
    EXPECT_TRUE(rois->getROIActors().empty());
}

TEST_F(Measurements, PolygonEditingAndDegenerateShapes)
{
    isActorROIPolygon* polygon = rois->addPolygonROI(Vec3(0, 0, 0), Vec3(0, 0, 0));
    auto* record = static_cast<ROIPolygon*>(polygon->getROIData());
    polygon->commitVertex();  // the second vertex has not moved yet
    EXPECT_EQ(record->vertices.size(), 2u);
    // A bow tie: the edges cross.
    for (const Vec3& p : {Vec3(20, 20, 0), Vec3(20, 0, 0), Vec3(0, 20, 0)}) {
        polygon->setCurrentPoint(p);
        polygon->commitVertex();
    }
    EXPECT_EQ(record->vertices.size(), 5u);
    EXPECT_EQ(polygon->getCurrentPointIndex(), 4);
    drawn();
    EXPECT_EQ(polygon->getDashNode()->getLineVertexCount(), 2) << "the closing edge is dashed until closed";
    EXPECT_EQ(polygon->getLabel(), nullptr);
    EXPECT_EQ(requests, 0);
    // Five vertices close: the last two (the double click's vertex and its copy) go, and the
    // current point is the last of those left.
    polygon->closePolygon();
    ASSERT_EQ(record->vertices.size(), 3u);
    EXPECT_EQ(record->vertices[2], Vec3(20, 0, 0));
    EXPECT_EQ(polygon->getCurrentPointIndex(), 2);
    polygon->setFinished(true);
    polygon->setDirty(true);
    drawn();
    EXPECT_EQ(polygon->getDashNode()->getLineVertexCount(), 0);
    EXPECT_EQ(polygon->getShapeNode()->getLineVertexCount(), 6);

    // The statistics of a crossing polygon, a zero-length line and a circle of radius 0 are
    // finite numbers.
    qvtest::OwnedRecord slice(16, 16, PIXEL_U8);
    slice.info.spacingX = slice.info.spacingY = 1.0f;
    for (int i = 0; i < 256; ++i)
        slice.samples<uint8_t>()[i] = static_cast<uint8_t>(i % 7);
    ROIPolygon* bowTie = ROIPolygon::create();
    bowTie->vertices = {Vec3(0, 0, 0), Vec3(10, 10, 0), Vec3(10, 0, 0), Vec3(0, 10, 0)};
    ROICircle* dot = ROICircle::create();
    dot->setPoint(0, Vec3(5, 5, 0));
    dot->setPoint(1, Vec3(5, 5, 0));
    for (ROIData* r : {static_cast<ROIData*>(bowTie), static_cast<ROIData*>(dot)}) {
        std::string text;
        ASSERT_TRUE(computeROIStatisticsText(slice.info, *r, text));
        EXPECT_EQ(text.find("nan"), std::string::npos) << text;
        EXPECT_EQ(text.find("inf"), std::string::npos) << text;
        for (const char* key : {"Area", "Avg", "StdDev", "Min", "Max"})
            EXPECT_TRUE(std::isfinite(field(text, key))) << text;
    }
    EXPECT_FALSE(dot->isValid());

    ROILine* zero = ROILine::create();
    isActorROILine* zeroLine = isActorROILine::create();
    rois->adoptROI(zeroLine, zero, 1);
    drawn();
    EXPECT_EQ(zeroLine->getLabel()->getString(), "0.0mm");
    // A rebuilt angle has no point selected: an edit writes nothing.
    ROIAngle* angle = ROIAngle::create();
    isActorROIAngle* angleActor = isActorROIAngle::create();
    angleActor->setROIData(angle);
    angleActor->setCurrentPoint(Vec3(9, 9, 9));
    EXPECT_EQ(angle->getPoint(0), Vec3::ZERO);
}

// Value labels pushed off their place stay readable where the user looks for them: each stays
// inside the view and within about one label height of its shape (or is tied to it by a leader
// line), and no text of the view overlaps another, corner texts included, before and after a
// zoom.
TEST_F(Measurements, LabelsStayNearTheirShapesInsideTheViewAndClearOfOtherTexts)
{
    window->setContentSize(cocos2d::Size(640, 480));
    // A corner text at the top-left of the view, as the viewer's overlay lays it out.
    isActorOverlay* overlay = manager->getOverlayActor();
    overlay->addTopLeftText("HOSPITAL OF A RATHER LONG NAME");
    NSUI::NSLayout* corner = overlay->getCornerLayout(OVERLAY_TOP_LEFT);
    corner->setPosition(Vec2(0, 480 - corner->getContentSize().height));
    frames();
    ASSERT_FALSE(overlay->getTextBoxes(window, false).empty());

    // World (x, y) lies at window (320 + x, 240 - y).
    auto world = [](float wx, float wy) { return Vec3(wx - 320, 240 - wy, 0); };
    auto circle = [&](float cx, float cy, float r) {
        ROICircle* record = ROICircle::create();
        record->setPoint(0, world(cx, cy));
        record->setPoint(1, world(cx + r, cy));
        record->setText("Area:2.83,W:1.9 H:1.9 Unit:cm\nAvg:40.25,StdDev:3.5,Total:3542\nMin:30,Max:52");
        rois->adoptROI(isActorROICircle::create(), record, -1);
    };
    circle(70, 410, 30);   // its label's place runs off the top, over the corner text
    circle(600, 200, 30);  // its label's place runs off the right edge
    for (int i = 0; i < 4; ++i)
        circle(250 + 50 * i, 150, 20);  // a row whose labels would all overlap

    const float gap = static_cast<float>(twoMillimetres());
    auto check = [&](const char* when) {
        drawn();
        rois->arrangeLabels();
        std::vector<cocos2d::Rect> texts = overlay->getTextBoxes(window, false);
        const size_t fixed = texts.size();
        for (isActorROIBase* actor : rois->getROIActors()) {
            isNodeText* label = actor->getLabel();
            ASSERT_NE(label, nullptr) << when;
            const cocos2d::Rect box = label->getBoundingBox();
            texts.push_back(box);
            const auto* record = static_cast<const ROICircle*>(actor->getROIData());
            cocos2d::Vec3 c, rim;
            rig.camera->worldToScreen(record->center, &c);
            rig.camera->worldToScreen(record->rim, &rim);
            const float r = Vec2(c.x, c.y).distance(Vec2(rim.x, rim.y));
            const cocos2d::Rect shape(c.x - r, c.y - r, 2 * r, 2 * r);
            if (!shape.intersectsRect(cocos2d::Rect(0, 0, 640, 480))) {
                texts.pop_back();  // out of sight with its shape
                continue;
            }
            EXPECT_TRUE(box.getMinX() >= -0.01f && box.getMinY() >= -0.01f && box.getMaxX() <= 640.01f &&
                        box.getMaxY() <= 480.01f)
                << when << ": label " << actor->getNumber() << " at " << box.origin.x << "," << box.origin.y;
            if (boxGap(box, shape) <= box.size.height + gap + 1.0f)
                continue;
            bool tied = false;
            for (const auto& [from, to] : rois->getLeaderLines())
                tied = tied || (boxGap(cocos2d::Rect(from.x, from.y, 0, 0), box) <= 1.0f &&
                                std::fabs(Vec2(c.x, c.y).distance(to) - r) <= 1.5f);
            EXPECT_TRUE(tied) << when << ": label " << actor->getNumber() << " is " << boxGap(box, shape)
                              << " from its shape without a leader line";
        }
        for (size_t i = 0; i < texts.size(); ++i)
            for (size_t j = std::max(i + 1, fixed); j < texts.size(); ++j)
                EXPECT_FALSE(boxesOverlap(texts[i], texts[j])) << when << ": texts " << i << " and " << j;
    };
    check("as drawn");
    rig.camera->setZoom(1.6f);
    check("zoomed in");
    rig.camera->setZoom(0.7f);
    check("zoomed out");
}

// The layout alone: a free place is kept; a shape boxed in by other texts sends its label to the
// nearest free place with a leader line ending on the outline; a view smaller than the label
// keeps it at the view's lower-left corner.
TEST(ROILabelLayout, OwnPlaceNearPlaceLeaderAndCramped)
{
    using cocos2d::Rect;
    ROILabelScene scene;
    scene.view = cocos2d::Size(400, 300);
    scene.gap = 8;
    ROILabelRequest label;
    label.shape = Rect(100, 100, 40, 40);
    label.home = Rect(100, 148, 120, 50);
    label.anchor = Vec2(120, 120);
    label.outline = {{Vec2(100, 100), Vec2(140, 100)}, {Vec2(140, 100), Vec2(140, 140)},
                     {Vec2(140, 140), Vec2(100, 140)}, {Vec2(100, 140), Vec2(100, 100)}};
    scene.outlines = label.outline;

    std::vector<ROILabelPlacement> placed = placeROILabels(scene, {label});
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0].offset, Vec2::ZERO);
    EXPECT_FALSE(placed[0].leader);

    // Texts all around the shape, out to well beyond one label height; free above them a band of
    // the label's height and the space kept from texts.
    scene.texts = {Rect(0, 0, 400, 100), Rect(0, 140, 400, 106), Rect(0, 100, 100, 40), Rect(140, 100, 260, 40)};
    placed = placeROILabels(scene, {label});
    const Rect box(label.home.origin + placed[0].offset, label.home.size);
    EXPECT_TRUE(placed[0].leader);
    EXPECT_GE(box.getMinY(), 250.0f);
    EXPECT_LE(box.getMaxY(), 300.0f);
    for (const Rect& text : scene.texts)
        EXPECT_FALSE(boxesOverlap(box, text));
    EXPECT_LE(boxGap(Rect(placed[0].from.x, placed[0].from.y, 0, 0), box), 0.01f);
    EXPECT_NEAR(placed[0].to.y, 140.0f, 0.01f);  // the top edge of the shape, nearest the label

    // A small reformatted cell: a short line just below and left of the top-right corner texts,
    // its label's own place ending where "O 19700101" begins. It keeps a space from every text
    // instead of reading "96.0mmO 19700101".
    {
        ROILabelScene cell;
        cell.view = cocos2d::Size(300, 170);
        cell.gap = 8;
        cell.texts = {Rect(180, 150, 120, 20), Rect(210, 130, 90, 20)};
        ROILabelRequest line;
        line.shape = Rect(150, 100, 20, 20);
        line.home = Rect(150, 128, 60, 16);
        line.outline = {{Vec2(150, 120), Vec2(170, 100)}};
        cell.outlines = line.outline;
        const std::vector<ROILabelPlacement> at = placeROILabels(cell, {line});
        const Rect box(line.home.origin + at[0].offset, line.home.size);
        for (const Rect& text : cell.texts)
            EXPECT_GE(boxGap(box, text), 3.9f) << box.origin.x << "," << box.origin.y;
        EXPECT_LE(boxGap(box, line.shape), 8 + 16 + 0.01f);
    }

    // A shape moved out of the view keeps its label with it, out of sight.
    scene.texts.clear();
    ROILabelRequest away = label;
    away.shape.origin += Vec2(500, 0);
    away.home.origin += Vec2(500, 0);
    placed = placeROILabels(scene, {away});
    EXPECT_EQ(placed[0].offset, Vec2::ZERO);
    EXPECT_FALSE(placed[0].leader);

    // A view smaller than the label: nothing fits, the label stays at the corner.
    scene.view = cocos2d::Size(60, 40);
    label.shape = Rect(10, 10, 20, 20);
    label.home.origin = Vec2(10, 38);
    placed = placeROILabels(scene, {label});
    EXPECT_EQ(label.home.origin + placed[0].offset, Vec2::ZERO);
    EXPECT_FALSE(placed[0].leader);
}
