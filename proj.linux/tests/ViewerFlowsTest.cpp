// A generated MR study imported and read the way a clinician reads it: the reformatted planes,
// slices stepped with the wheel, measurements whose values the phantom's known geometry fixes,
// window and level changed with the mouse, and cine.
#include "support/AppTest.h"
#include "support/Screens.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <vector>

#include "Phantom.h"

namespace e2e {
namespace {

const char* const kMrName = "MR^PHANTOM";

bool isGrey(Rgb c, int atLeast)
{
    return std::abs(c.r - c.g) < 12 && std::abs(c.g - c.b) < 12 && c.g >= atLeast;
}

// The widest run of image (grey, not black, not the coloured cross lines) along a row of the box,
// away from its edge texts: its row, first and last pixel.
struct Span {
    int y = 0, x0 = 0, x1 = -1;
    int width() const { return x1 - x0 + 1; }
};

Span widestRow(const Screenshot& s, const Box& box)
{
    Span best;
    // Clear of the edge letters and of the white corner labels (" Thk:" ends some 60 pixels in
    // from the side, on rows the body may reach).
    const int margin = 40, side = 80;
    for (int y = box.y + margin; y < box.y + box.h - margin; ++y) {
        int first = -1, last = -1;
        for (int x = box.x + side; x < box.x + box.w - side; ++x)
            if (isGrey(s.at(x, y), 20)) {
                if (first < 0)
                    first = x;
                last = x;
            }
        if (first >= 0 && last - first + 1 > best.width())
            best = {y, first, last};
    }
    return best;
}

// The centre of a square of `side` pixels, all of one grey level, inside the box; false when none.
bool uniformSpot(const Screenshot& s, const Box& box, int side, int* cx, int* cy)
{
    for (int y = box.y + box.h / 2 - side; y < box.y + box.h - 2 * side; y += side / 2)
        for (int x = box.x + 40; x < box.x + box.w - 40 - side; x += side / 2) {
            const Box square{x, y, side, side};
            const Rgb c = s.at(x, y);
            if (isGrey(c, 40) && s.varied(square, 0) == 0) {
                *cx = square.cx();
                *cy = square.cy();
                return true;
            }
        }
    return false;
}

// The measurement texts drawn over the images.
std::vector<std::string> measurementTexts(const View& v)
{
    std::vector<std::string> out;
    for (const Node& n : v.nodes)
        if (n.cls == "isImageSDK::isNodeText" && n.hasText && !n.text.empty())
            out.push_back(n.text);
    return out;
}

// Waits for a measurement text not seen before; "" when none came.
std::string newMeasurement(App& app, const std::vector<std::string>& before)
{
    std::string found;
    app.waitFor(
        [&](const View& v) {
            for (const std::string& t : measurementTexts(v))
                if (std::find(before.begin(), before.end(), t) == before.end()) {
                    found = t;
                    return true;
                }
            return false;
        },
        10);
    return found;
}

// Pixels of each reference-line colour (magenta, orange, blue) inside the window, away from its
// edges (the active window's border) and from its corner texts (some of them orange).
std::array<int, 3> referenceLinePixels(const Screenshot& s, const Box& window)
{
    std::array<int, 3> n{0, 0, 0};
    for (int y = window.y + 70; y < window.y + window.h - 60; ++y)
        for (int x = window.x + 40; x < window.x + window.w - 40; ++x) {
            const Rgb c = s.at(x, y);
            if (c.r > 200 && c.g < 90 && c.b > 200)
                ++n[0];
            else if (c.r > 200 && c.g > 100 && c.g < 200 && c.b < 70)
                ++n[1];
            else if (c.r < 90 && c.g < 90 && c.b > 200)
                ++n[2];
        }
    return n;
}

}  // namespace

class ViewerFlows : public AppTest {};

TEST_F(ViewerFlows, ImportedMrStudyReadWithPlanesWheelMeasurementsMouseLevelAndCine)
{
    const qvgen::PhantomSpec spec = mrSpec(30, 128, kMrName, "MR-0001");
    const std::string source = writeStudy("mr-source", spec);
    const qvgen::Phantom phantom(spec);
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();

    importFolder(source);
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, kMrName, "1-1-30"); }, 120, &view))
        << view.dump();
    keep("imported");
    ASSERT_TRUE(openPatient(*app, kMrName));
    ASSERT_TRUE(openSeries(*app, "axial MR phantom", &view)) << view.dump();

    // The reformatted planes: axial, sagittal and coronal windows side by side.
    const std::vector<const Node*> windows = imageWindows(view);
    ASSERT_EQ(windows.size(), 3u) << view.dump();
    for (const char* plane : {"Axial", "Sagittal", "Coronal"})
        EXPECT_TRUE(view.withText(plane)) << plane << "\n" << view.dump();
    const Box axial = windows[0]->box;
    Screenshot s;
    for (int i = 0; i < 50; ++i) {
        s = x->shot();
        if (widestRow(s, axial).width() > 100)
            break;
        pause(100);
    }
    keep("planes");

    // The wheel steps slices: three notches, three slices of 3 mm.
    double before = 0, after = 0;
    ASSERT_TRUE(slicePosition(view, axial, &before)) << view.dump();
    x->wheel(axial.cx(), axial.cy(), 3);
    ASSERT_TRUE(app->waitFor([&](const View& v) { return slicePosition(v, axial, &after) && after != before; }, 10,
                             &view))
        << view.dump();
    // The first notch may show before the others are handled.
    ASSERT_TRUE(waitForInputDrawn(*app));
    view = app->probe();
    ASSERT_TRUE(slicePosition(view, axial, &after));
    EXPECT_NEAR(std::fabs(after - before), 3 * spec.sliceSpacing, 0.01);

    // A line across the body, edge to edge, measures the body's width: 2 a of the elliptic
    // section, within one voxel and the pixels of the drawing.
    ASSERT_TRUE(waitForDrawn(*app, view));
    s = x->shot();
    const Span body = widestRow(s, axial);
    ASSERT_GT(body.width(), 100) << "the body is not drawn";
    const double bodyWidth = 2 * phantom.shape("body")->halfSize[0];
    const double pixelsPerMm = body.width() / bodyWidth;
    ASSERT_TRUE(app->clickNamed("btnCmdLine"));
    std::vector<std::string> seen = measurementTexts(app->probe());
    x->drag(body.x0, body.y, body.x1 + 1, body.y, 1, 20);
    std::string text = newMeasurement(*app, seen);
    ASSERT_FALSE(text.empty()) << "no length shown";
    std::vector<double> values = numbersIn(text);
    ASSERT_EQ(values.size(), 1u) << text;
    EXPECT_NEAR(values[0], bodyWidth, spec.columnSpacing + 2 / pixelsPerMm) << text;
    EXPECT_NE(text.find("mm"), std::string::npos) << text;

    // A right angle drawn on the screen is a right angle in the patient (square pixels).
    ASSERT_TRUE(app->clickNamed("btnCmdAngle"));
    seen = measurementTexts(app->probe());
    const int ax = axial.cx() - 120, ay = axial.cy() + 80;
    x->drag(ax, ay, ax + 120, ay, 1, 12);
    x->click(ax, ay - 100);
    text = newMeasurement(*app, seen);
    ASSERT_FALSE(text.empty()) << "no angle shown";
    values = numbersIn(text);
    ASSERT_FALSE(values.empty()) << text;
    EXPECT_NEAR(values[0], 90.0, 0.6) << text;

    // A circle inside plain body tissue: its mean is the tissue's signal, with no spread.
    s = x->shot();
    int cx = 0, cy = 0;
    ASSERT_TRUE(uniformSpot(s, axial, 40, &cx, &cy)) << "no plain tissue in sight";
    ASSERT_TRUE(app->clickNamed("btnCmdCircle"));
    seen = measurementTexts(app->probe());
    x->drag(cx, cy, cx + 12, cy, 1, 6);
    text = newMeasurement(*app, seen);
    ASSERT_FALSE(text.empty()) << "no region statistics shown";
    const size_t avg = text.find("Avg:");
    ASSERT_NE(avg, std::string::npos) << text;
    const std::vector<double> stats = numbersIn(text.substr(avg));
    ASSERT_GE(stats.size(), 2u) << text;
    EXPECT_EQ(stats[0], phantom.shape("body")->mr) << text;
    EXPECT_EQ(stats[1], 0) << text;
    keep("measured");

    // Window and level by mouse: a drag over the image changes the overlay's values and the grey.
    const std::string level = windowLevelText(view, axial);
    const Box patch{cx - 5, cy - 5, 10, 10};
    const double grey = x->shot().meanGrey(patch);
    ASSERT_TRUE(app->clickNamed("btnCmdWL"));
    ASSERT_TRUE(app->waitForText("By Mouse", 10, &view)) << view.dump();
    keep("window-level-menu");
    app->click(*view.withText("By Mouse"));
    // Dragged over the black corner of the window, clear of the measurements.
    const int wx = axial.x + axial.w - 200, wy = axial.y + axial.h - 120;
    x->drag(wx, wy, wx + 80, wy + 40, 1, 12);
    ASSERT_TRUE(app->waitFor([&](const View& v) { return windowLevelText(v, axial) != level; }, 10, &view))
        << level << "\n" << view.dump();
    ASSERT_TRUE(waitForDrawn(*app, view));
    EXPECT_GT(std::fabs(x->shot().meanGrey(patch) - grey), 10) << "the image's grey did not follow the window";
    keep("window-level");

    // A colour table from its menu colours the grey image.
    ASSERT_TRUE(app->clickNamed("btnCmdClut"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.named("clutMenu") != nullptr; }, 10, &view)) << view.dump();
    const Node* tables = view.named("clutMenu");
    app->click(*tables, 0.5, 0.3);  // the second of five rows from the top: hot metal
    const auto coloured = [&](const Screenshot& shot) {
        int n = 0;
        for (int py = patch.y; py < patch.y + patch.h; ++py)
            for (int px = patch.x; px < patch.x + patch.w; ++px) {
                const Rgb c = shot.at(px, py);
                n += std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 40;
            }
        return n;
    };
    bool tinted = false;
    for (int i = 0; i < 50 && !tinted; ++i, pause(100))
        tinted = coloured(x->shot()) > patch.w * patch.h / 2;
    EXPECT_TRUE(tinted) << "the colour table left the image grey";
    keep("colour-table");

    // Cine: playing walks through the slices; a second touch stops it.
    ASSERT_TRUE(app->clickNamed("btnCmdPlay"));
    std::set<double> positions;
    app->waitFor(
        [&](const View& v) {
            double mm = 0;
            if (slicePosition(v, axial, &mm))
                positions.insert(mm);
            return positions.size() >= 3;
        },
        20);
    EXPECT_GE(positions.size(), 3u) << "cine did not move through the slices";
    ASSERT_TRUE(app->clickNamed("btnCmdPlay"));
    ASSERT_TRUE(waitForInputDrawn(*app));
    double stopped = 0, later = 0;
    ASSERT_TRUE(slicePosition(app->probe(), axial, &stopped));
    pause(600);
    ASSERT_TRUE(slicePosition(app->probe(), axial, &later));
    EXPECT_EQ(stopped, later) << "cine did not stop";
    keep("after-cine");
    quitCleanly();
}

// The volume rendering of the example CT: the VR view button turns a window into a 3D cell that
// draws the phantom's body, not just its background.
TEST_F(ViewerFlows, VolumeRenderingDrawsTheExampleBody)
{
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();
    ASSERT_TRUE(openPatient(*app, kExampleName));
    ASSERT_TRUE(openExample(*app, &view)) << view.dump();
    // The view buttons act on the chosen window: the axial one, chosen by a touch.
    app->click(*firstImageWindow(view));
    pause(300);
    ASSERT_TRUE(app->clickNamed("btnViewVR"));
    const auto volumeCell = [](const View& v) -> const Node* {
        for (const Node& n : v.nodes)
            if ((n.cls.find("isViewerVR") != std::string::npos || n.cls.find("isViewerVolume") != std::string::npos) &&
                n.box.w > 100 && n.box.h > 100)
                return &n;
        return nullptr;
    };
    ASSERT_TRUE(app->waitFor([&](const View& v) { return volumeCell(v) != nullptr; }, 20, &view)) << view.dump();
    const Box cell = volumeCell(view)->box;
    // The background is one flat colour (the cell's corner); the body's rendering covers a good
    // part of the cell's middle third in other colours.
    const Box centre{cell.cx() - cell.w / 6, cell.cy() - cell.h / 6, cell.w / 3, cell.h / 3};
    const int enough = 2000;
    int drawn = 0;
    for (int i = 0; i < 100 && drawn <= enough; ++i) {
        const Screenshot s = x->shot();
        const Rgb background = s.at(cell.x + 3, cell.y + cell.h - 3);
        drawn = centre.w * centre.h - s.count(centre, background, 12);
        if (drawn <= enough)
            pause(100);
    }
    keep("volume-rendering");
    EXPECT_GT(drawn, enough) << "the 3D cell shows only its background\n" << view.dump();
    quitCleanly();
}

// The example CT magnified tenfold on the border of the subcutaneous fat and the muscle wall
// (about -100 and 50 HU, so neighbouring values cross 0): between the two tissues the grey rises
// steadily, with no false contour line where the values cross a multiple of 256.
TEST_F(ViewerFlows, TheExampleMagnifiedOnAFatMuscleBorderShowsNoContourLines)
{
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    ASSERT_TRUE(openPatient(*app, kExampleName));
    ASSERT_TRUE(openExample(*app, &view)) << view.dump();
    const Box axial = firstImageWindow(view)->box;
    // Magnified tenfold (the zoom keeps the middle of the reference lines in sight).
    ASSERT_TRUE(app->clickNamed("btnCmdZoom"));
    ASSERT_TRUE(waitForInputDrawn(*app));
    x->drag(axial.cx() + 150, axial.y + axial.h - 30, axial.cx() + 150, axial.y + 30, 1, 60);
    // Under the default window (400/40) fat is dark grey and muscle mid-grey. The body's right
    // side wall lies to the left, off the view: the view is moved right until a row below the
    // middle shows a stretch of fat followed by one of muscle, then that border goes to a third of
    // the width.
    ASSERT_TRUE(app->clickNamed("btnCmdMove"));
    ASSERT_TRUE(waitForInputDrawn(*app));
    const int row = axial.cy() + 100;
    const Box inside{axial.x + 40, row - 60, axial.w - 80, 120};
    const auto findBorder = [&](const Screenshot& shot) {
        int fat = 0, muscle = 0, fatEnd = -1;
        for (int px = inside.x; px < inside.x + inside.w; ++px) {
            const int g = shot.at(px, row).g;
            if (g >= 25 && g <= 55) {
                ++fat;
                fatEnd = px;
                muscle = 0;
            } else if (g >= 120 && g <= 150 && fat >= 40 && px - fatEnd < 60) {
                if (++muscle >= 40)
                    return fatEnd;
            } else if (g < 25 || g > 150) {
                fat = muscle = 0;
            }
        }
        return -1;
    };
    // Looked for once the last drag has been drawn, and taken when two shots a frame apart agree
    // (a frame that lags the input shows the border where it no longer is).
    const auto settledBorder = [&] {
        int last = -2;
        for (int i = 0; i < 20; ++i) {
            if (!waitForInputDrawn(*app))
                break;
            const int now = findBorder(x->shot());
            if (now == last)
                return now;
            last = now;
        }
        return -1;
    };
    int border = -1;
    for (int i = 0; i < 8 && border < 0; ++i) {
        border = settledBorder();
        if (border < 0)
            x->drag(inside.x, row, inside.x + inside.w * 2 / 3, row, 1, 40);
    }
    ASSERT_GT(border, 0) << "no fat and muscle along the row";
    const int atX = axial.x + axial.w / 3;
    x->drag(border, row, atX, row, 1, 40);
    // The reference lines hide a few seconds after their last change: the screenshot waits until
    // they have (on what the screen shows, not a fixed time).
    for (int i = 0; i < 300; ++i) {
        const std::array<int, 3> n = referenceLinePixels(x->shot(), axial);
        if (std::count_if(n.begin(), n.end(), [](int c) { return c > 60; }) == 0)
            break;
        pause(100);
    }
    const Screenshot s = keep("example-magnified");

    // Across the border (a few millimetres either side): fat, a steady rise, muscle.
    for (int dy : {-30, 0, 30}) {
        std::vector<int> grey;
        for (int px = atX - 100; px <= atX + 100; ++px)
            grey.push_back(s.at(px, row + dy).g);
        const int low = *std::min_element(grey.begin(), grey.end());
        const int high = *std::max_element(grey.begin(), grey.end());
        EXPECT_LT(low, 56) << "row " << row + dy << ": no fat";
        EXPECT_GT(high, 119) << "row " << row + dy << ": no muscle";
        for (size_t i = 1; i < grey.size(); ++i)
            ASSERT_GE(grey[i] + 3, grey[i - 1]) << "row " << row + dy << ": the grey falls from " << grey[i - 1]
                                                << " to " << grey[i] << " at x " << atX - 100 + int(i);
    }
    quitCleanly();
}

// The example's axial series opened from the study list, as a user opens it: each of the three
// planes shows the reference lines of the other two. They hide a few seconds after they were
// drawn; a touch on any view brings them back in every plane.
TEST_F(ViewerFlows, ReferenceLinesOfTheExampleOpenedFromTheStudyList)
{
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view)) << view.dump();
    ASSERT_TRUE(openPatient(*app, kExampleName));
    ASSERT_TRUE(openExample(*app, &view)) << view.dump();
    const std::vector<const Node*> windows = imageWindows(view);
    ASSERT_EQ(windows.size(), 3u) << view.dump();
    std::vector<Box> boxes;
    for (const Node* w : windows)
        boxes.push_back(w->box);
    // Waits (on what the screen shows, not a fixed time: a loaded machine draws late) until
    // every view shows `lines` line colours; the last screenshot in `s`.
    auto showLines = [&](int lines, Screenshot& s) {
        for (int i = 0; i < 300; ++i) {
            s = x->shot();
            bool all = true;
            for (const Box& b : boxes) {
                const std::array<int, 3> n = referenceLinePixels(s, b);
                all = all && std::count_if(n.begin(), n.end(), [](int c) { return c > 60; }) == lines;
            }
            if (all)
                return true;
            pause(100);
        }
        return false;
    };
    // Past the lines' own timer (they hide a few seconds after they were drawn), so that what
    // shows is what the touches bring back.
    Screenshot s;
    ASSERT_TRUE(showLines(0, s)) << "the lines did not hide";
    for (size_t touched = 0; touched < boxes.size(); ++touched) {
        x->click(boxes[touched].cx() + 40, boxes[touched].cy() + 40);
        // Two of the three line colours cross each view: enough pixels for a line, not a speck.
        const bool shown = showLines(2, s);
        keep("lines-after-touch-" + std::to_string(touched));
        for (size_t i = 0; i < boxes.size() && !shown; ++i) {
            const std::array<int, 3> n = referenceLinePixels(s, boxes[i]);
            ADD_FAILURE() << "view " << i << " after a touch on view " << touched << ": pixels " << n[0] << " "
                          << n[1] << " " << n[2];
        }
    }
    quitCleanly();
}

}  // namespace e2e
