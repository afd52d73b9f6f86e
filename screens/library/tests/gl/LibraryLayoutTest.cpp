// Where the library screens draw what a user reads, checked on the pixels read back from the
// window: the query screen's typed texts inside their boxes, and the import progress of the home
// screen clear of the top bar's buttons, counting the files of the import under way.
#include "LibraryAppFixture.h"

#include "GLTestProgram.h"
#include "NSResponseWindow.h"
#include "NSTextField.h"
#include "dcmFinder.h"
#include "importDcm.h"

#include <algorithm>
#include <string>

USING_NS_CC;

namespace {

// A window rectangle in frame pixels (origin bottom-left) of a node's box.
struct PixelBox {
    int x0, y0, x1, y1;  // inclusive
};

PixelBox pixelBox(Node* node)
{
    const float scale = Director::getInstance()->getOpenGLView()->getScaleX();
    const Rect box = node->getBoundingBox();
    const Vec2 low = node->getParent()->convertToWorldSpace(box.origin);
    const Vec2 high = node->getParent()->convertToWorldSpace(Vec2(box.getMaxX(), box.getMaxY()));
    return {int(std::lround(low.x * scale)), int(std::lround(low.y * scale)), int(std::lround(high.x * scale)) - 1,
            int(std::lround(high.y * scale)) - 1};
}

Label* progressLabel(Node* screen)
{
    for (Node* child : screen->getChildren())
        if (auto* label = dynamic_cast<Label*>(child); label && label->getString().rfind("Importing", 0) == 0)
            return label;
    return nullptr;
}

bool dark(const std::array<int, 3>& c)
{
    return c[0] + c[1] + c[2] < 3 * 128;
}

} // namespace

// The typed texts of the query screen's four fields lie inside their white boxes, clear of the top
// and the bottom border (descenders included), about as far from one as from the other, and on
// one line.
TEST_F(LibraryAppTest, QueryFieldsShowTheirTextsInsideTheirBoxes)
{
    launch(false);
    NSUI::NSResponseWindow* window = dcmFinder::createWindow();
    ASSERT_NE(window, nullptr);
    home()->addChild(window);
    dcmFinder* finder = dcmFinder::fromWindow(window);
    ASSERT_NE(finder, nullptr);
    // The patient's text is longer than its field: the field shows the line with the cursor.
    const std::pair<const char*, const char*> typed[] = {{"editIP", "127.0.0.1"},
                                                         {"editPort", "104"},
                                                         {"editTitle", "ANY-SCP"},
                                                         {"editPatient", "Jpgy Qj, a patient name longer than its field"}};
    for (const auto& [name, text] : typed) {
        NSUI::NSTextField* field = finder->getField(name);
        ASSERT_NE(field, nullptr) << name;
        field->attachWithIME();
        for (const char* c = text; *c; ++c)
            field->insertText(c, 1);
        field->detachWithIME();
    }
    finder->getField("editPatient")->attachWithIME();  // one field with the focus frame
    for (int i = 0; i < 5; ++i)
        frame();
    const float scale = Director::getInstance()->getOpenGLView()->getScaleX();
    const int margin = std::max(2, int(std::lround(2 * scale)));
    for (const auto& [name, text] : typed) {
        SCOPED_TRACE(name);
        NSUI::NSTextField* field = finder->getField(name);
        ASSERT_NE(field->getBackground(), nullptr);
        const PixelBox box = pixelBox(field->getBackground());
        // The rows holding the text's ink inside the box (outside it lies the dark panel).
        int inkLow = -1, inkHigh = -1;
        for (int y = box.y0; y <= box.y1; ++y)
            for (int x = box.x0 + 3; x <= box.x1 - 3; ++x)
                if (dark(qvtest::framePixel(x, y))) {
                    inkLow = inkLow < 0 ? y : std::min(inkLow, y);
                    inkHigh = std::max(inkHigh, y);
                    break;
                }
        ASSERT_GE(inkLow, 0) << "no text drawn";
        // The borders are a pixel or two; the ink keeps clear of both.
        EXPECT_GE(inkLow, box.y0 + margin) << "the text touches the bottom border (box " << box.y0 << ".." << box.y1
                                           << ", ink " << inkLow << ".." << inkHigh << ")";
        EXPECT_LE(inkHigh, box.y1 - margin) << "the text touches the top border (box " << box.y0 << ".." << box.y1
                                            << ", ink " << inkLow << ".." << inkHigh << ")";
        // One line of 17-point text, ascenders to descenders, not parts of two.
        EXPECT_LE(inkHigh - inkLow + 1, int(std::lround(21 * scale))) << "more than one line shows";
        const int below = inkLow - box.y0, above = box.y1 - inkHigh;
        EXPECT_LE(std::abs(below - above), std::max(6, (box.y1 - box.y0) / 4))
            << "the text is not centred: " << below << " below, " << above << " above";
    }
    window->removeFromParent();
}

// With the example imported first (201 files), importing a folder of 120 files says "Importing n of
// 120 files", and the text stays clear of every button of the top bar: their pixels do not change
// while it shows.
TEST_F(LibraryAppTest, ImportProgressCountsThisImportAndKeepsClearOfTheButtons)
{
    launch(true);
    ASSERT_TRUE(frameUntil([&] { return home()->getTable()->getRowCount() == 1 && !home()->getImporter()->isBusy(); }));
    const std::string source = scratch + "source/";
    writeStudy(source, "MANY^FILES", "M-120", 120);
    for (int i = 0; i < 5; ++i)
        frame();
    const char* const buttons[] = {"writeAdvice", "importImage", "logo", "search", "wifi", "btnFavorite"};
    std::vector<std::pair<PixelBox, std::vector<std::array<int, 3>>>> before;
    for (const char* name : buttons) {
        Node* button = home()->getChildByNameDeep(name);
        if (!button || !button->isVisible())
            continue;
        const PixelBox box = pixelBox(button);
        std::vector<std::array<int, 3>> pixels;
        for (int y = box.y0; y <= box.y1; ++y)
            for (int x = box.x0; x <= box.x1; ++x)
                pixels.push_back(qvtest::framePixel(x, y));
        before.emplace_back(box, std::move(pixels));
    }
    ASSERT_GE(before.size(), 5u);

    // The progress is shown four times a second: the first frame after the import starts shows it.
    home()->openPath(source);
    frame(0.3f);
    Label* label = progressLabel(home());
    ASSERT_TRUE(label && label->isVisible());
    frame(0.0f);
    const std::string text = label->getString();
    int done = -1, total = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "Importing %d of %d files", &done, &total), 2) << text;
    EXPECT_EQ(total, 120) << text;
    EXPECT_GE(done, 0) << text;
    EXPECT_LE(done, 120) << text;
    // Drawn where the top bar has room for it: inside the window, above the list, and no button's
    // pixels changed.
    const PixelBox shown = pixelBox(label);
    const Size win = Director::getInstance()->getWinSize();
    EXPECT_GE(shown.x0, 0);
    EXPECT_LT(shown.y1, int(win.height * Director::getInstance()->getOpenGLView()->getScaleY()));
    for (const auto& [box, pixels] : before) {
        size_t i = 0, changed = 0;
        for (int y = box.y0; y <= box.y1; ++y)
            for (int x = box.x0; x <= box.x1; ++x)
                changed += qvtest::framePixel(x, y) != pixels[i++];
        EXPECT_EQ(changed, 0u) << "the progress \"" << text << "\" is drawn over the button at " << box.x0 << ","
                               << box.y0;
        EXPECT_TRUE(shown.x1 < box.x0 || shown.x0 > box.x1 || shown.y1 < box.y0 || shown.y0 > box.y1)
            << "the progress \"" << text << "\" overlaps the button at " << box.x0 << "," << box.y0;
    }
    ASSERT_TRUE(frameUntil([&] { return !home()->getImporter()->isBusy(); }));
}
