// Every screen at the sizes clinicians use: 1280x800, 1920x1080, and 3840x2160 with a content
// scale of 2 (Xft.dpi 192). On each, nothing shown is cut off by the window or drawn over another
// text, and at scale 2 the texts are laid out and rasterised at twice the size (sharp, not
// enlarged). The screenshots are kept for a person to look at.
#include "support/AppTest.h"
#include "support/Screens.h"

#include <algorithm>
#include <cmath>

namespace e2e {
namespace {

struct Size {
    int width, height, dpi;
};

std::string label(const Size& s)
{
    return std::to_string(s.width) + "x" + std::to_string(s.height) + (s.dpi != 96 ? "-scale2" : "");
}

// Texts of the screen, drawn and not empty.
std::vector<const Node*> shownTexts(const View& v)
{
    std::vector<const Node*> out;
    for (const Node& n : v.nodes)
        if (n.hasText && !n.text.empty() && n.opacity > 0 && n.box.w > 0 && n.box.h > 0)
            out.push_back(&n);
    return out;
}

std::string boxText(const Box& b)
{
    return std::to_string(b.x) + "," + std::to_string(b.y) + " " + std::to_string(b.w) + "x" + std::to_string(b.h);
}

// Each text outside the window and each pair of texts drawn over each other.
std::vector<std::string> layoutProblems(const View& v)
{
    std::vector<std::string> problems;
    const Box window{v.window.x - 1, v.window.y - 1, v.window.w + 2, v.window.h + 2};
    const std::vector<const Node*> texts = shownTexts(v);
    if (texts.empty())
        problems.push_back("no text shown");
    for (const Node* t : texts)
        if (!window.contains(t->box))
            problems.push_back("\"" + t->text + "\" is cut off by the window: " + boxText(t->box));
    for (size_t i = 0; i < texts.size(); ++i)
        for (size_t j = i + 1; j < texts.size(); ++j) {
            const Box& a = texts[i]->box;
            const Box& b = texts[j]->box;
            // A one-pixel touch of neighbouring texts is no overlap.
            const Box inner{a.x + 1, a.y + 1, a.w - 2, a.h - 2};
            if (inner.overlaps(b))
                problems.push_back("\"" + texts[i]->text + "\" and \"" + texts[j]->text + "\" overlap: " +
                                   boxText(a) + " and " + boxText(b));
        }
    return problems;
}

// The screen's layout once it has settled (texts laid out while they change are looked at again).
void checkLayout(App& app, const std::string& screen)
{
    std::vector<std::string> problems;
    for (int attempt = 0; attempt < 5; ++attempt) {
        problems = layoutProblems(app.probe());
        if (problems.empty())
            return;
        pause(400);
    }
    for (const std::string& p : problems)
        ADD_FAILURE() << screen << ": " << p;
}

// How sharp the text in a box is: the largest step between neighbouring pixels as a share of the
// box's contrast, averaged over the rows that cross a glyph. Text rasterised at the screen's
// resolution steps from background to stroke within a pixel or two; an enlarged one smears.
double sharpness(const Screenshot& s, const Box& box)
{
    double sum = 0;
    int rows = 0;
    double lo = 255, hi = 0;
    for (int y = box.y; y < box.y + box.h; ++y)
        for (int x = box.x; x < box.x + box.w; ++x) {
            const Rgb c = s.at(x, y);
            const double g = (c.r + c.g + c.b) / 3.0;
            lo = std::min(lo, g);
            hi = std::max(hi, g);
        }
    if (hi - lo < 60)
        return 0;
    for (int y = box.y; y < box.y + box.h; ++y) {
        double step = 0;
        for (int x = box.x + 1; x < box.x + box.w; ++x) {
            const Rgb a = s.at(x - 1, y), b = s.at(x, y);
            step = std::max(step, std::fabs((a.r + a.g + a.b) / 3.0 - (b.r + b.g + b.b) / 3.0));
        }
        if (step > 0.3 * (hi - lo)) {
            sum += step / (hi - lo);
            ++rows;
        }
    }
    return rows ? sum / rows : 0;
}

}  // namespace

class ScreenSizes : public AppTest, public ::testing::WithParamInterface<Size> {};

TEST_P(ScreenSizes, EveryScreenFitsAndReads)
{
    const Size size = GetParam();
    useScreen(size.width, size.height, size.dpi);
    const double scale = size.dpi / 96.0;
    launch();
    View view;
    ASSERT_TRUE(app->waitFor([](const View& v) { return showsPatient(v, "PHANTOM^QUORVANE", "1-1-20"); }, 90, &view))
        << view.dump();
    EXPECT_DOUBLE_EQ(view.pixelsPerUnit, scale);
    // The window fills the screen's width less its frame and its height less 100 points.
    EXPECT_EQ(view.window.w, size.width);
    EXPECT_EQ(view.window.h, size.height - int(100 * scale));
    pause(500);
    view = app->probe();
    Screenshot s = keep("patients-" + label(size));
    checkLayout(*app, "patient list");
    const Node* title = view.withText("Patients");
    ASSERT_NE(title, nullptr);
    // Titles are 20-22 points: twice as many pixels at scale 2, and as sharp.
    EXPECT_GE(title->box.h, int(20 * scale)) << "title height " << title->box.h;
    EXPECT_LE(title->box.h, int(32 * scale)) << "title height " << title->box.h;
    const double sharp = sharpness(s, title->box);
    EXPECT_GT(sharp, 0.6) << "the title's text is blurred (" << sharp << ")";

    ASSERT_TRUE(openPatient(*app, "PHANTOM^QUORVANE"));
    ASSERT_TRUE(app->waitFor([](const View& v) { return v.withText("axial CT phantom") != nullptr; }, 30, &view))
        << view.dump();
    pause(1500);  // thumbnails
    view = app->probe();
    keep("studies-" + label(size));
    checkLayout(*app, "study list");

    ASSERT_TRUE(openSeries(*app, "axial CT phantom", &view)) << view.dump();
    pause(1500);
    view = app->probe();
    s = keep("viewer-" + label(size));
    checkLayout(*app, "viewer");
    // Every tool button lies inside the window.
    for (const Node& n : view.nodes) {
        if (n.cls == "cocos2d::ui::Button" && n.box.w > 0) {
            EXPECT_TRUE(view.window.contains(n.box)) << "viewer: button " << n.name << " is cut off";
        }
    }
    quitCleanly();
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreenSizes,
                         ::testing::Values(Size{1280, 800, 96}, Size{1920, 1080, 96}, Size{3840, 2160, 192}),
                         [](const ::testing::TestParamInfo<Size>& info) {
                             return "w" + std::to_string(info.param.width) + (info.param.dpi != 96 ? "scale2" : "");
                         });

}  // namespace e2e
