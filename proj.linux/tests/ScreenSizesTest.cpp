// Every screen at the sizes clinicians use: 1280x800, 1920x1080, and 3840x2160 with a content
// scale of 2 (Xft.dpi 192). On each, nothing shown is cut off by the window or drawn over another
// text, every button lies inside the window, and at scale 2 the texts are laid out and rasterised
// at twice the size (sharp, not enlarged). One program start per size walks through the screens
// a user reaches: the patient list with the send, query/retrieve and account windows and the
// share toast over it, the study list, the viewer with its window/level dialog, and the favourites
// with a capture. The screenshots are kept for a person to look at.
#include "support/AppTest.h"
#include "support/Screens.h"

#include "../../platform/dicom/tests/support/DicomPeers.h"
#include "../../platform/dicom/tests/support/DicomTestData.h"

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

// The screen's layout once it has settled (texts laid out while they change are looked at again);
// with a window's name, only that window over the screen.
void checkLayout(App& app, const std::string& screen, const std::string& window = "")
{
    std::vector<std::string> problems;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const View view = app.probe();
        // A toast is laid over the screen on purpose (with several copies of the program on one
        // machine, the one that cannot take the DICOM port says so at start): the screen is
        // judged without it; the share toast is looked at on its own.
        problems = layoutProblems(window.empty() ? view.without("messageBox") : view.below(window));
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

class ScreenSizes : public AppTest, public ::testing::WithParamInterface<Size> {
protected:
    // A screen, or a window over one (named `window`), once `marker` shows and it has settled: a
    // screenshot kept, no text cut off or drawn over another, every button inside the window and
    // the title's text, where there is one, sharp. False when the marker never shows.
    bool checkScreen(const std::string& screen, const std::string& marker, const std::string& window = "")
    {
        View view;
        if (!app->waitFor([&](const View& v) { return v.named(marker) != nullptr; }, 20, &view)) {
            ADD_FAILURE() << screen << " did not show\n" << view.dump();
            return false;
        }
        // The frame the report described is on the screen before it is looked at: a large window
        // under the sanitizers on a loaded machine takes longer to draw than any fixed pause.
        if (!waitForDrawn(*app, view)) {
            ADD_FAILURE() << screen << " was not drawn";
            return false;
        }
        const Screenshot s = keep(screen + "-" + label(GetParam()));
        checkLayout(*app, screen, window);
        view = app->probe();
        if (!window.empty())
            view = view.below(window);
        for (const Node& n : view.nodes)
            if (n.cls == "cocos2d::ui::Button" && n.box.w > 0) {
                EXPECT_TRUE(view.window.contains(n.box)) << screen << ": button " << n.name << " is cut off";
            }
        if (const Node* title = view.named("title"); title && !title->text.empty()) {
            const double sharp = sharpness(s, title->box);
            EXPECT_GT(sharp, 0.6) << screen << ": the title's text is blurred (" << sharp << ")";
        }
        return true;
    }

    // An open menu once it shows: a screenshot kept, the menu inside the window, and each entry's
    // text inside its row, judged from the pixels: the row's own colour, opaque, on both sides of
    // the text's ink (a text cut by its row's edge has ink up to it).
    void checkMenu(const std::string& name)
    {
        View view;
        if (!app->waitFor([&](const View& v) { return v.named(name) != nullptr; }, 10, &view)) {
            ADD_FAILURE() << name << " did not open\n" << view.dump();
            return;
        }
        pause(400);
        view = app->probe();
        const Node* menu = view.named(name);
        ASSERT_NE(menu, nullptr) << view.dump();
        // A large window under the sanitizers takes a while to draw: the menu's corner in the rows'
        // grey says it is on the screen.
        const auto drawn = [&] {
            const Rgb c = x->pixel(menu->box.x + menu->box.w - 2, menu->box.y + 2);
            return std::abs(c.r - 70) <= 1 && std::abs(c.g - 70) <= 1 && std::abs(c.b - 70) <= 1;
        };
        for (int i = 0; i < 50 && !drawn(); ++i)
            pause(200);
        pause(200);
        const Screenshot s = keep(name + "-" + label(GetParam()));
        EXPECT_TRUE(view.window.contains(menu->box)) << name << " runs outside the window: " << boxText(menu->box);
        const int margin = std::max(3, int(std::lround(4 * view.pixelsPerUnit)));
        int entries = 0;
        for (const Node& n : view.below(name).nodes) {
            if (!n.hasText || n.text.empty())
                continue;
            ++entries;
            EXPECT_TRUE(menu->box.contains(n.box)) << name << ": \"" << n.text << "\" lies outside its row";
            const Box before{n.box.x - margin - 1, n.box.y, margin, n.box.h};
            const Box after{menu->box.x + menu->box.w - margin - 1, n.box.y, margin, n.box.h};
            const Rgb row = s.at(after.x, after.cy());
            // The rows' own grey (70, 70, 70), not blended with what lies beneath.
            EXPECT_TRUE(std::abs(row.r - 70) <= 1 && std::abs(row.g - 70) <= 1 && std::abs(row.b - 70) <= 1)
                << name << ": the row of \"" << n.text << "\" is not opaque (" << row.r << "," << row.g << "," << row.b << ")";
            EXPECT_EQ(s.count(after, row, 2), after.w * after.h) << name << ": \"" << n.text << "\" runs to its row's edge";
            EXPECT_EQ(s.count(before, row, 2), before.w * before.h) << name << ": \"" << n.text << "\" runs to its row's edge";
            EXPECT_GT(n.box.w * n.box.h - s.count(n.box, row, 40), 0) << name << ": \"" << n.text << "\" is not drawn";
        }
        if (name != "clutMenu") {
            EXPECT_GT(entries, 0) << name << "\n" << view.dump();
        }
    }

    // Closes a window over the screen with its button; false when it stays.
    bool close(const std::string& window, const std::string& button)
    {
        const View view = app->probe().below(window);
        const Node* shown = view.named(button);
        if (!shown)
            return false;
        app->click(*shown);
        return app->waitFor([&](const View& v) { return v.named(window) == nullptr; }, 10);
    }
};

TEST_P(ScreenSizes, EveryScreenFitsAndReads)
{
    const Size size = GetParam();
    useScreen(size.width, size.height, size.dpi);
    const double scale = size.dpi / 96.0;
    launch();
    View view;
    ASSERT_TRUE(app->waitFor(showsExample, 90, &view))
        << view.dump();
    EXPECT_DOUBLE_EQ(view.pixelsPerUnit, scale);
    // The window fills the screen's width less its frame and its height less 100 points.
    EXPECT_EQ(view.window.w, size.width);
    EXPECT_EQ(view.window.h, size.height - int(100 * scale));
    view = app->probe();
    ASSERT_TRUE(waitForDrawn(*app, view));
    Screenshot s = keep("patients-" + label(size));
    checkLayout(*app, "patient list");
    const Node* title = view.withText("Patients");
    ASSERT_NE(title, nullptr);
    // Titles are 20-22 points: twice as many pixels at scale 2, and as sharp.
    EXPECT_GE(title->box.h, int(20 * scale)) << "title height " << title->box.h;
    EXPECT_LE(title->box.h, int(32 * scale)) << "title height " << title->box.h;
    const double sharp = sharpness(s, title->box);
    EXPECT_GT(sharp, 0.6) << "the title's text is blurred (" << sharp << ")";

    // The windows over the patient list, with a storage peer and an archive to fill their rows.
    qvtest::TempDir dir;
    qvtest::StorePeer store(dir);
    const std::string source = writeStudy("archive-source", mrSpec(4, 32, "ARCHIVED^PATIENT", "QR-0002"));
    qvtest::ArchivePeer archive(dir, filesBelow(source));
    ASSERT_TRUE(store.ready() && archive.ready());
    EXPECT_TRUE(rowMenu(*app, *x, kExampleName, "send"));
    if (checkScreen("send", "dcmSend", "dcmSend")) {
        const std::string address = "127.0.0.1:" + std::to_string(store.port());
        EXPECT_TRUE(sendToTypedAddress(*app, *x, address, &view)) << view.dump();
        // The typed address stays on one line between the row's name and its send button: the rows
        // of the screenshot with its white ink span one line's height.
        view = app->probe().below("dcmSend");
        const Node* name = view.withText("Other node");
        const Node* send = view.named("dcmNode_send_input");
        if (name && send) {
            const Screenshot shot = x->shot();
            const int ppu = int(std::lround(view.pixelsPerUnit));
            int inked = 0;
            for (int py = name->box.cy() - 35 * ppu; py < name->box.cy() + 35 * ppu; ++py) {
                bool ink = false;
                for (int px = name->box.x + name->box.w + 8; px < send->box.x - 4 && !ink; ++px) {
                    const Rgb c = shot.at(px, py);
                    ink = c.r > 200 && c.g > 200 && c.b > 200;
                }
                inked += ink;
            }
            EXPECT_GT(inked, 0) << "the typed address " << address << " is not shown";
            EXPECT_LE(inked, 24 * ppu) << "the typed address " << address << " takes more than one line";
        } else {
            ADD_FAILURE() << "no typed address row\n" << view.dump();
        }
        checkScreen("send-done", "dcmSend", "dcmSend");
        EXPECT_TRUE(close("dcmSend", "btn_back"));
    }
    EXPECT_TRUE(app->clickNamed("search"));
    if (checkScreen("query", "editIP", "dcmFinder")) {
        EXPECT_TRUE(searchArchive(*app, *x, archive.port(), "ARCHIVED", &view)) << view.dump();
        checkScreen("query-found", "btnDownload", "dcmFinder");
        EXPECT_TRUE(close("dcmFinder", "btn_back"));
    }
    EXPECT_TRUE(app->clickNamed("logo"));
    if (checkScreen("account", "login_view", "login_view")) {
        EXPECT_TRUE(close("login_view", "goBack"));
    }
    // The advice page, from the top bar, and back.
    EXPECT_TRUE(app->clickNamed("writeAdvice"));
    if (app->waitForText("Advice", 20, &view) && checkScreen("advice", "goBack")) {
        EXPECT_TRUE(app->clickNamed("goBack"));
        EXPECT_TRUE(app->waitForText("Patients", 20, &view)) << view.dump();
    } else {
        ADD_FAILURE() << "the advice page did not show\n" << view.dump();
    }
    // Sharing packs the patient's folder behind the busy overlay and ends with a toast saying
    // where the archive went, on one line inside its box.
    EXPECT_TRUE(rowMenu(*app, *x, kExampleName, "share"));
    if (app->waitFor([](const View& v) { return v.containing("archive") != nullptr; }, 20, &view)) {
        pause(200);
        keep("share-" + label(size));
        view = app->probe().below("messageBox");
        for (const std::string& p : layoutProblems(view))
            ADD_FAILURE() << "share: " << p;
        const Node* box = view.named("messageBox");
        const Node* toast = view.named("messageBox.text");
        ASSERT_TRUE(box && toast) << view.dump();
        EXPECT_TRUE(box->box.contains(toast->box)) << "the toast \"" << toast->text << "\" is wider than its box";
    } else {
        ADD_FAILURE() << "sharing ended without a toast\n" << view.dump();
    }

    // Right after sharing, the click may still meet the busy overlay on its way out: the patient is
    // opened again until its studies show.
    const auto studiesShown = [](const View& v) { return v.withText(kExampleSeries) != nullptr; };
    bool studies = false;
    for (int attempt = 0; attempt < 3 && !studies; ++attempt) {
        ASSERT_TRUE(openPatient(*app, kExampleName));
        studies = app->waitFor(studiesShown, 20, &view);
    }
    ASSERT_TRUE(studies) << view.dump();
    pause(1500);  // thumbnails
    view = app->probe();
    keep("studies-" + label(size));
    checkLayout(*app, "study list");

    ASSERT_TRUE(openExample(*app, &view)) << view.dump();
    checkScreen("viewer", "goBack");
    // The protocol button's picture reads at its size: its light panes and the dark lines between
    // them both show, not a flat grey square.
    view = app->probe();
    if (const Node* protocol = view.named("btnCmdProtocal")) {
        const Screenshot shot = x->shot();
        const Box b = protocol->box;
        int light = 0, dark = 0;
        for (int py = b.y; py < b.y + b.h; ++py)
            for (int px = b.x; px < b.x + b.w; ++px) {
                const Rgb c = shot.at(px, py);
                const int grey = (c.r + c.g + c.b) / 3;
                light += grey > 170;
                dark += grey < 80;
            }
        EXPECT_GE(b.h, int(40 * scale)) << "protocol picture " << boxText(b);
        EXPECT_GT(light, b.w * b.h / 3) << "protocol picture " << boxText(b);
        EXPECT_GT(dark, b.w * b.h / 10) << "protocol picture " << boxText(b);
    } else {
        ADD_FAILURE() << "no protocol button\n" << view.dump();
    }

    // The window/level dialog, from the first window's window text.
    const Node* window = firstImageWindow(view);
    ASSERT_NE(window, nullptr);
    const Node* level = textIn(view, window->box, windowLevelText(view, window->box));
    ASSERT_NE(level, nullptr) << view.dump();
    app->click(*level);
    if (checkScreen("level-dialog", "editWW", "editWW")) {
        EXPECT_TRUE(close("editWW", "btn_back"));
    }

    // Every menu of the screen, each closed again by a click on the favourites button (which only
    // closes an open menu). The DICOM menu comes from the active view's quick tools.
    view = app->probe();
    if (const Node* active = firstImageWindow(view))
        app->click(*active);
    ASSERT_TRUE(waitForInputDrawn(*app));
    const std::vector<std::pair<std::string, std::string>> menus = {{"btnCmdCapture", "captureMenu"},
                                                                    {"info", "dcmMenu"},
                                                                    {"btnCmdProtocal", "protocalMenu"},
                                                                    {"btnCmdWL", "windowLevelMenu"},
                                                                    {"btnCmdClut", "clutMenu"}};
    for (const auto& [button, menu] : menus) {
        if (!app->clickNamed(button)) {
            ADD_FAILURE() << "no button " << button << "\n" << app->probe().dump();
            continue;
        }
        checkMenu(menu);
        EXPECT_TRUE(app->clickNamed("btnCmdFavorite"));
        EXPECT_TRUE(app->waitFor([&](const View& v) { return v.named(menu) == nullptr; }, 10)) << menu << " stays open";
        EXPECT_TRUE(waitForInputDrawn(*app));
        EXPECT_EQ(app->probe().named("favoriteView"), nullptr) << "the click meant to close " << menu << " acted";
    }

    // A capture of the whole screen, then the favourites with it.
    if (app->clickNamed("btnCmdCapture") && app->waitFor([](const View& v) { return v.withText("Whole Screen"); }, 10, &view)) {
        app->click(*view.withText("Whole Screen"));
        EXPECT_TRUE(app->waitFor([&](const View&) { return !filesBelow(writable() + "qv/tmp/capture/").empty(); }, 30))
            << "no capture was written";
    } else {
        ADD_FAILURE() << "the capture menu did not show\n" << view.dump();
    }
    EXPECT_TRUE(app->clickNamed("btnCmdFavorite"));
    if (checkScreen("favourites", "favoriteView")) {
        EXPECT_TRUE(app->clickNamed("goBack"));
    }
    quitCleanly();
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreenSizes,
                         ::testing::Values(Size{1280, 800, 96}, Size{1920, 1080, 96}, Size{3840, 2160, 192}),
                         [](const ::testing::TestParamInfo<Size>& info) {
                             return "w" + std::to_string(info.param.width) + (info.param.dpi != 96 ? "scale2" : "");
                         });

}  // namespace e2e
