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

bool dark(const std::array<int, 3>& c)
{
    return c[0] + c[1] + c[2] < 3 * 128;
}

} // namespace

// The typed texts of the query screen's four fields lie inside their white boxes, clear of the top
// and the bottom border (descenders included), and about as far from one as from the other.
TEST_F(LibraryAppTest, QueryFieldsShowTheirTextsInsideTheirBoxes)
{
    launch(false);
    NSUI::NSResponseWindow* window = dcmFinder::createWindow();
    ASSERT_NE(window, nullptr);
    home()->addChild(window);
    dcmFinder* finder = dcmFinder::fromWindow(window);
    ASSERT_NE(finder, nullptr);
    const std::pair<const char*, const char*> typed[] = {
        {"editIP", "127.0.0.1"}, {"editPort", "104"}, {"editTitle", "ANY-SCP"}, {"editPatient", "Jpgy Qj"}};
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
        const int below = inkLow - box.y0, above = box.y1 - inkHigh;
        EXPECT_LE(std::abs(below - above), std::max(6, (box.y1 - box.y0) / 4))
            << "the text is not centred: " << below << " below, " << above << " above";
    }
    window->removeFromParent();
}
