// Measuring in the viewer screen as a user does it: a measurement tool chosen on the tool panel,
// the shape drawn with the mouse (input simulator) on the middle slice of a CT phantom, and the
// label read back and checked against values computed from the phantom's geometry: the length of
// a line across the 200 HU cube, an angle of 60 degrees, the value of a point in the cube, a circle
// and a polygon inside solids of one value (standard deviation 0). The pixels under each shape are
// read back too: they show the shape's colour where the slice was grey.
#include "support/ViewingFixture.h"

#include "GLTestProgram.h"
#include "NSStringUtil.h"
#include "UIScrollViewBase.h"
#include "imageViewerPC.h"
#include "isActorROI.h"
#include "isInteractorImage.h"
#include "isROIManager.h"
#include "isViewerBrowser.h"
#include "isViewerImage.h"
#include "isViewerMulti.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <thread>

#include "renderer/ccUtils.h"

USING_NS_CC;
using namespace isImageSDK;

namespace {

// A measurement's colour (green, red or yellow) rather than a grey of the slice.
bool coloured(const std::array<int, 3>& c)
{
    const int hi = std::max({c[0], c[1], c[2]}), lo = std::min({c[0], c[1], c[2]});
    return hi > 180 && hi - lo > 120;
}

// Whether some pixel within `reach` screen units of p shows a measurement colour.
bool colouredNear(const Vec2& p, int reach = 3)
{
    for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx)
            if (coloured(qvtest::pixelAt(p.x + float(dx), p.y + float(dy))))
                return true;
    return false;
}

// With QV_SCREENSHOT_DIR set, the window is written there as <name>.png for looking at.
void savePicture(const std::string& name)
{
    const char* dir = std::getenv("QV_SCREENSHOT_DIR");
    if (!dir)
        return;
    bool written = false;
    utils::captureScreen([&written](bool ok, const std::string&) { written = ok; }, std::string(dir) + "/" + name + ".png");
    for (int i = 0; i < 3 && !written; ++i)
        Director::getInstance()->stepFrame(1.0f / 60);
}

std::string two(double v)
{
    return floatToString(float(v), 2);
}

class MeasureToolsTest : public ViewingTest {
protected:
    void SetUp() override
    {
        ViewingTest::SetUp();
        spec.columns = 256;
        spec.rows = 256;
        spec.slices = 20;
        // Stored samples are HU + 1024: the values shown are modality values (HU).
        spec.rescaleIntercept = -1024;
        phantom = std::make_unique<qvgen::Phantom>(spec);
        const std::string folder = writeSeries("PHANTOM_PH-0001/study/ct", spec);
        screen = openViewer(folder);
        ASSERT_NE(screen, nullptr);
        ASSERT_NE(screen->getViewer(), nullptr);
        ASSERT_TRUE(stepUntil([&] { return seriesLoaded(screen); }));
        step(10);
        // The axial pane (the screen opens the volume in three planes), made the active one by a
        // click, on its middle slice.
        const auto axial = screen->getViewer()->cellsOfKind(VIEW_AXIAL);
        ASSERT_FALSE(axial.empty());
        if (isViewerBrowser* browser = axial.front()->getBrowser())
            view = browser->getActiveWindow() ? browser->getActiveWindow() : browser->getFirstWindow();
        else
            view = dynamic_cast<isViewerImage*>(axial.front()->getViewer());
        ASSERT_NE(view, nullptr);
        click(view->convertToWorldSpace(Vec2(view->getContentSize()) * 0.5f));
        ASSERT_EQ(screen->getViewer()->getActiveCell(), axial.front());
        // The pane shows an acquired slice near the middle, through the spheres and the cube.
        slice = view->getImageActor()->getCurrentSliceInfo();
        ASSERT_NE(slice, nullptr);
        ASSERT_EQ(view->getImageActor()->getPlaneAxis(), 0);
        sliceIndex = view->getImageActor()->getSliceIndex();
        ASSERT_LE(std::abs(sliceIndex - spec.slices / 2), 1);
    }

    // The world point (as the viewer places the slice) of grid-frame millimetres (u, v) from the
    // centre of the named solid, on the slice shown; its phantom value is checked to be the solid's.
    // `patientOut` receives its patient coordinates.
    Vec3 at(const char* solid, double du, double dv, double* patientOut = nullptr) const
    {
        const qvgen::PhantomShape* s = phantom->shape(solid);
        double local[3];
        phantom->voxelToLocal(0, 0, sliceIndex, local);
        local[0] = s->center[0] + du;
        local[1] = s->center[1] + dv;
        double patient[3], voxel[3];
        phantom->localToPatient(local, patient);
        EXPECT_EQ(phantom->value(patient), s->ct) << solid << " " << du << " " << dv;
        if (patientOut)
            std::copy(patient, patient + 3, patientOut);
        phantom->patientToVoxel(patient, voxel);
        Vec3 world(float(voxel[0] * slice->spacingX), float(voxel[1] * slice->spacingY), 0.0f);
        slice->matrix.transformPoint(&world);
        return world;
    }
    // The screen point (design units) showing a patient point.
    Vec2 onScreen(const Vec3& world) const { return view->convertToWorldSpace(view->worldToScreen(world)); }

    void chooseTool(const char* button)
    {
        Node* panel = screen->getToolScrollView()->getChildByName("toolPanel");
        ASSERT_NE(panel, nullptr);
        Node* node = panel->getChildByName(button);
        ASSERT_NE(node, nullptr) << button;
        clickNode(node);
        step(3);
    }
    void click(const Vec2& p)
    {
        pauseBetweenGestures();
        InputSimulator::click(p.x, p.y);
        step(2);
    }
    // The measurements of the window, and the label text of the last one once it is not empty.
    const std::vector<isActorROIBase*>& shown() const { return view->getROIActor()->getROIActors(); }
    std::string lastLabel()
    {
        std::string text;
        stepUntil(
            [&] {
                if (shown().empty() || !shown().back()->getLabel())
                    return false;
                text = shown().back()->getLabel()->getString();
                return !text.empty() && text != "Unknown";
            },
            5);
        step(3);
        return text;
    }

    qvgen::PhantomSpec spec;
    std::unique_ptr<qvgen::Phantom> phantom;
    imageViewerPC* screen = nullptr;
    isViewerImage* view = nullptr;
    const isSliceInfo* slice = nullptr;
    int sliceIndex = 0;
};

} // namespace

TEST_F(MeasureToolsTest, LineAcrossTheCubeShowsItsLengthInMillimetres)
{
    const double half = phantom->shape("cube")->halfSize[0];
    const Vec3 a = at("cube", -half, 0), b = at("cube", half, 0);
    chooseTool("btnCmdLine");
    drag(onScreen(a), onScreen(b));
    ASSERT_EQ(shown().size(), 1u);
    char length[32];
    std::snprintf(length, sizeof length, "%.1fmm", 2 * half);
    EXPECT_EQ(lastLabel(), length);
    // The line is drawn over the slice between its ends.
    for (float f : {0.25f, 0.5f, 0.75f})
        EXPECT_TRUE(colouredNear(onScreen(a + (b - a) * f))) << f;
    // A plain click on an empty place with the line tool leaves no zero-length line behind.
    click(onScreen(at("contrast", 0, 0)));
    EXPECT_EQ(shown().size(), 1u);
}

TEST_F(MeasureToolsTest, AngleOfSixtyDegrees)
{
    const Vec3 vertex = at("body", -30, 0);
    const Vec3 first = at("body", -10, 0);
    const double t = M_PI / 3;
    const Vec3 second = at("body", -30 + 25 * std::cos(t), 25 * std::sin(t));
    chooseTool("btnCmdAngle");
    drag(onScreen(vertex), onScreen(first));
    click(onScreen(second));
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_TRUE(shown().back()->isFinished());
    EXPECT_EQ(lastLabel(), "60.0deg");
    EXPECT_TRUE(colouredNear(onScreen((vertex + first) * 0.5f)));
    EXPECT_TRUE(colouredNear(onScreen((vertex + second) * 0.5f)));
}

TEST_F(MeasureToolsTest, PointInTheCubeShowsItsValue)
{
    double patient[3];
    const Vec3 p = at("cube", 2, -3, patient);
    chooseTool("btnCmdPoint");
    click(onScreen(p));
    ASSERT_EQ(shown().size(), 1u);
    const std::string text = lastLabel();
    ASSERT_EQ(text.rfind("Value:200\n", 0), 0u) << text;
    // The position under the cursor, in patient millimetres.
    float x = 0, y = 0, z = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + 10, "x=%f,y=%f,z=%f", &x, &y, &z), 3) << text;
    EXPECT_NEAR(x, patient[0], 0.05);
    EXPECT_NEAR(y, patient[1], 0.05);
    EXPECT_NEAR(z, patient[2], 0.05);
    // The cross is drawn around the point (its arms start 5 pixels out).
    const Vec2 s = onScreen(p);
    EXPECT_TRUE(colouredNear(s + Vec2(10, 0)) || colouredNear(s + Vec2(0, 10)));
}

TEST_F(MeasureToolsTest, CircleInsideTheContrastSphere)
{
    // A radius that no pixel centre of the 1 mm grid lies on.
    const double r = 9.7;
    int inside = 0;
    for (int i = -10; i <= 10; ++i)
        for (int j = -10; j <= 10; ++j)
            inside += i * i + j * j <= r * r ? 1 : 0;
    const Vec3 centre = at("contrast", 0, 0), rim = at("contrast", r, 0);
    chooseTool("btnCmdCircle");
    drag(onScreen(centre), onScreen(rim));
    ASSERT_EQ(shown().size(), 1u);
    const std::string expected = "Area:" + two(r * 3.1415926 * r * 0.01) + ",W:" + two(2 * r * 0.1) +
                                 " H:" + two(2 * r * 0.1) + " Unit:cm\nAvg:300,StdDev:0,Total:" +
                                 two(300.0 * inside) + "\nMin:300,Max:300";
    EXPECT_EQ(lastLabel(), expected);
    savePicture("measure-circle");
    const Vec2 c = onScreen(centre);
    const float R = onScreen(rim).distance(c);
    EXPECT_TRUE(colouredNear(c + Vec2(R, 0)));
    EXPECT_TRUE(colouredNear(c + Vec2(-R, 0)));
    EXPECT_TRUE(colouredNear(c + Vec2(0, R)));
    EXPECT_FALSE(colouredNear(c + Vec2(R / 2, -R / 2), 1));
}

TEST_F(MeasureToolsTest, PolygonInsideTheCubeClosedByADoubleClick)
{
    // A square of 10.4 mm around the cube's centre: its pixel test takes 10 x 10 pixel centres.
    const double h = 5.2;
    const Vec3 corners[] = {at("cube", -h, -h), at("cube", h, -h), at("cube", h, h), at("cube", -h, h)};
    chooseTool("btnCmdPolygon");
    drag(onScreen(corners[0]), onScreen(corners[1]));
    click(onScreen(corners[2]));
    click(onScreen(corners[3]));
    // A double click closes the polygon; the point double-clicked is no corner of it.
    pauseBetweenGestures();
    const Vec2 elsewhere = onScreen(at("cube", 0, 0));
    InputSimulator::click(elsewhere.x, elsewhere.y);
    InputSimulator::click(elsewhere.x, elsewhere.y);
    step(2);
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_TRUE(shown().back()->isFinished());
    ASSERT_EQ(shown().back()->getROIData()->getPointCount(), 4);
    const std::string expected = "Area:" + two(2 * h * 2 * h * 0.01) + ",W:" + two(2 * h * 0.1) + " H:" +
                                 two(2 * h * 0.1) + " Unit:cm\nAvg:200,StdDev:0,Total:20000\nMin:200,Max:200";
    EXPECT_EQ(lastLabel(), expected);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(colouredNear(onScreen((corners[i] + corners[(i + 1) % 4]) * 0.5f))) << i;
}

TEST_F(MeasureToolsTest, MeasurementsFollowZoomAndPanAndStayOnTheirSlice)
{
    const double r = 9.7;
    const Vec3 centre = at("contrast", 0, 0), rim = at("contrast", r, 0);
    chooseTool("btnCmdCircle");
    drag(onScreen(centre), onScreen(rim));
    ASSERT_EQ(shown().size(), 1u);
    const std::string text = lastLabel();
    ASSERT_EQ(text.rfind("Area:", 0), 0u) << text;
    isActorROIBase* circle = shown().back();

    // Zoomed in and panned: the shape and its label move together.
    view->zoomBy(1.6f);
    view->panBy(40, -25);
    step(4);
    const Vec2 c = view->worldToScreen(centre);
    const float R = view->worldToScreen(rim).distance(c);
    const Vec2 label = circle->getLabel()->getPosition();
    EXPECT_NEAR(label.x, c.x - R, 1.0f);
    EXPECT_GT(label.y, c.y + R);
    EXPECT_LT(label.y, c.y + R + 20);
    const Vec2 s = onScreen(centre);
    EXPECT_TRUE(colouredNear(s + Vec2(R, 0)));
    EXPECT_TRUE(colouredNear(s + Vec2(-R, 0)));
    EXPECT_EQ(circle->getLabel()->getString(), text);

    // The next slice (mouse wheel) shows no measurement; back on the slice, the circle is there
    // again with its statistics.
    const int index = view->getImageActor()->getSliceIndex();
    pauseBetweenGestures();
    InputSimulator::scroll(s.x + 60, s.y, -1);
    ASSERT_TRUE(stepUntil([&] { return view->getImageActor()->getSliceIndex() != index; }, 5));
    step(3);
    EXPECT_TRUE(shown().empty());
    EXPECT_FALSE(colouredNear(s + Vec2(R, 0)));
    InputSimulator::scroll(s.x + 60, s.y, 1);
    ASSERT_TRUE(stepUntil([&] { return view->getImageActor()->getSliceIndex() == index; }, 5));
    step(3);
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(lastLabel(), text);
    EXPECT_TRUE(colouredNear(s + Vec2(R, 0)));
}

TEST_F(MeasureToolsTest, AQuickStrokeDrawsALineAndKeepsTheSlice)
{
    // About 290 screen units in well under a tenth of a second: the pace of a swipe.
    const Vec3 a = at("body", -60, 30), b = at("body", 60, 30);
    const Vec2 sa = onScreen(a), sb = onScreen(b);
    ASSERT_GT(sa.distance(sb), 150.0f);
    ASSERT_LT(sa.distance(sb), 400.0f);
    chooseTool("btnCmdLine");
    const int index = view->getImageActor()->getSliceIndex();
    pauseBetweenGestures();
    InputSimulator::mouseDown(0, sa.x, sa.y);
    advanceGestureClock(30);
    InputSimulator::mouseMove((sa.x + sb.x) / 2, (sa.y + sb.y) / 2);
    advanceGestureClock(20);
    InputSimulator::mouseMove(sb.x, sb.y);
    InputSimulator::mouseUp(0, sb.x, sb.y);
    step(4);
    EXPECT_EQ(view->getImageActor()->getSliceIndex(), index);
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(lastLabel(), "120.0mm");
}
