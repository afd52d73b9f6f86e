// The favourites screens' layouts and the parts that need no drawing: the level dialog's fields and
// checks, and the tag list of files whose names use Chinese and Japanese character sets.
#include "support/ViewingFixture.h"

#include "DicomSeriesWriter.h"
#include "NSResponseWindow.h"
#include "NSTextField.h"
#include "cocostudio/CSLoader.h"
#include "dcmInfoList.h"
#include "editWW.h"
#include "favoriteView.h"
#include "qvTestPaths.h"
#include "textFit.h"
#include "ui/CocosGUI.h"

#include <fstream>
#include <regex>
#include <sstream>

USING_NS_CC;
using viewingtest::Recorder;

namespace {

template <class Kind>
void expectChild(Node* root, const std::string& layout, const std::string& name)
{
    Node* node = root->getChildByNameDeep(name);
    ASSERT_NE(node, nullptr) << layout << ": no " << name;
    EXPECT_NE(dynamic_cast<Kind*>(node), nullptr) << layout << ": " << name << " is of another kind";
}

void type(NSUI::NSTextField* field, const std::string& text)
{
    for (char c : text)
        field->insertText(&c, 1);
}

void clear(NSUI::NSTextField* field)
{
    while (!field->getString().empty())
        field->deleteBackward();
}

} // namespace

using FavoriteScreensTest = ViewingTest;

// The tag list hangs from the top of the window: at the window a 1280x800 screen leaves (700 units
// high) its list and its close button stay inside, while a tall window shows it at full size.
TEST_F(FavoriteScreensTest, TagListFitsTheWindowAtEverySize)
{
    GLView* view = director->getOpenGLView();
    const Size frame = view->getFrameSize();
    const auto worldBox = [](Node* node) {
        return Rect(node->convertToWorldSpace(Vec2::ZERO), node->getContentSize());
    };
    const auto inside = [](const Rect& outer, const Rect& inner) {
        return inner.getMinX() >= outer.getMinX() && inner.getMaxX() <= outer.getMaxX() &&
               inner.getMinY() >= outer.getMinY() && inner.getMaxY() <= outer.getMaxY();
    };
    float fullHeight = 0;
    for (const Size& win : {Size(1920, 980), Size(1280, 700), Size(1024, 600)}) {
        SCOPED_TRACE(std::to_string(int(win.width)) + "x" + std::to_string(int(win.height)));
        view->setDesignResolutionSize(win.width, win.height, ResolutionPolicy::SHOW_ALL);
        NSUI::NSResponseWindow* window = dcmInfoList::createWindow();
        ASSERT_NE(window, nullptr);
        home->addChild(window);
        step();
        dcmInfoList* list = dcmInfoList::fromWindow(window);
        ASSERT_NE(list, nullptr);
        Node* layout = list->getChildByName(dcmInfoList::kLayoutFile);
        ASSERT_NE(layout, nullptr);
        const Rect screen(0, 0, win.width, win.height);
        const Rect box = worldBox(layout);
        EXPECT_TRUE(inside(screen, box)) << box.origin.x << "," << box.origin.y << " " << box.size.width << "x"
                                         << box.size.height;
        EXPECT_FLOAT_EQ(box.getMaxY(), win.height);  // still hanging from the top
        ASSERT_NE(list->getList(), nullptr);
        const Rect rows = worldBox(list->getList());
        EXPECT_TRUE(inside(box, rows));
        EXPECT_GE(rows.size.height, 10 * dcmInfoList::kRowHeight);
        for (const char* name : {"btn_back", "title", "hdrValue"}) {
            Node* node = layout->getChildByNameDeep(name);
            ASSERT_NE(node, nullptr) << name;
            const Rect shown = node->getBoundingBox();
            const Rect world(node->getParent()->convertToWorldSpace(shown.origin), shown.size);
            EXPECT_TRUE(inside(box, world)) << name;
            EXPECT_GE(world.getMinY(), rows.getMaxY()) << name << " over the rows";
        }
        if (win.height >= 980)
            fullHeight = box.size.height;
        else
            EXPECT_LT(box.size.height, fullHeight);
        window->removeFromParent();
        step();
    }
    view->setDesignResolutionSize(frame.width, frame.height, ResolutionPolicy::SHOW_ALL);
}

TEST_F(FavoriteScreensTest, LayoutsHoldWhatTheCodeLooksUpAndNameOnlyPicturesThatExist)
{
    Node* screen = CSLoader::createNode("favoriteView.csb");
    ASSERT_NE(screen, nullptr);
    for (const char* name : {"btnShare", "btnRemove", "goBack"})
        expectChild<ui::Button>(screen, "favoriteView", name);
    expectChild<ui::CheckBox>(screen, "favoriteView", "chkAll");

    Node* bar = CSLoader::createNode(favoriteView::kToolFile);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(int(bar->getContentSize().width), 80);
    for (const char* name : favoriteView::kToolButtons)
        expectChild<ui::Button>(bar, "2DFavoriteTool", name);

    Node* tags = CSLoader::createNode(dcmInfoList::kLayoutFile);
    ASSERT_NE(tags, nullptr);
    expectChild<Node>(tags, "dcmInfo", "dcmList");
    expectChild<ui::Button>(tags, "dcmInfo", "btn_back");
    Node* row = CSLoader::createNode(dcmInfoList::kRowFile);
    ASSERT_NE(row, nullptr);
    for (const char* name : {"tag", "intro", "value"})
        expectChild<ui::Text>(row, "tagInfo", name);
    EXPECT_EQ(int(row->getContentSize().height), 35);

    Node* dialog = CSLoader::createNode(editWW::kLayoutFile);
    ASSERT_NE(dialog, nullptr);
    for (const char* name : {"editWW_window", "editWW_level", "editWW_min", "editWW_max"})
        expectChild<ui::Text>(dialog, "editWW", name);
    expectChild<ui::Button>(dialog, "editWW", "btn_back");
    EXPECT_EQ(dialog->getChildByNameDeep("btn_back")->getTag(), 1001);

    // Every picture a layout names is shipped.
    const std::regex picture("\"([A-Za-z0-9_/]+\\.png)\"");
    for (const char* file : {"favoriteView.csb", "2DFavoriteTool.csb", "dcmInfo.csb", "tagInfo.csb", "editWW.csb"}) {
        std::ifstream in(std::string(QV_RESOURCE_DIR) + "/res/pad/" + file);
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        ASSERT_FALSE(s.empty()) << file;
        for (std::sregex_iterator it(s.begin(), s.end(), picture), end; it != end; ++it)
            EXPECT_TRUE(FileUtils::getInstance()->isFileExist(std::string(QV_RESOURCE_DIR) + "/" + (*it)[1].str()))
                << file << " names " << (*it)[1];
    }
}

TEST_F(FavoriteScreensTest, LevelDialogKeepsBothFormsInStepAndChecksBeforeItPosts)
{
    NSUI::NSResponseWindow* panel = editWW::createPanel();
    ASSERT_NE(panel, nullptr);
    home->addChild(panel);
    editWW* dialog = editWW::fromPanel(panel);
    ASSERT_NE(dialog, nullptr);
    NSUI::NSTextField* ww = dialog->getField("editWW");
    NSUI::NSTextField* wl = dialog->getField("editWL");
    NSUI::NSTextField* lo = dialog->getField("editMin");
    NSUI::NSTextField* hi = dialog->getField("editMax");
    ASSERT_TRUE(ww && wl && lo && hi);
    EXPECT_EQ(ww->getPlaceHolder(), "Window width");

    dialog->setWindow(400, 40);
    EXPECT_EQ(lo->getString(), "-160");
    EXPECT_EQ(hi->getString(), "240");

    // Typing a range writes width and level; typing a width writes the range.
    clear(lo);
    clear(hi);
    type(lo, "100");
    type(hi, "300");
    EXPECT_EQ(ww->getString(), "200.0000");
    EXPECT_EQ(wl->getString(), "200.0000");
    clear(ww);
    type(ww, "50");
    EXPECT_EQ(lo->getString(), "175.0000");
    EXPECT_EQ(hi->getString(), "225.0000");
    // An eleventh character is refused; letters never get in.
    clear(ww);
    type(ww, "123456789012");
    EXPECT_EQ(ww->getString(), "1234567890");
    type(wl, "x");
    EXPECT_EQ(wl->getString(), "200.0000");

    Recorder recorder;
    recorder.retain();
    recorder.listen(NOTIFY_WL_EDITED, nullptr);
    // Refused: a width of 0, a negative width, a width that is not a number, min above max.
    for (const char* width : {"0", "-5", "-"}) {
        ww->setString(width);
        EXPECT_FALSE(dialog->applyWindowLevel()) << width;
        EXPECT_EQ(dialog->getLastMessage(), "The window width must be greater than 0.") << width;
    }
    ww->setString("200");
    wl->setString("-.");
    EXPECT_FALSE(dialog->applyWindowLevel());
    wl->setString("40");
    lo->setString("10");
    hi->setString("5");
    EXPECT_FALSE(dialog->applyWindowLevel());
    EXPECT_EQ(dialog->getLastMessage(), "The minimum must not be greater than the maximum.");
    step(3);
    EXPECT_EQ(recorder.count(NOTIFY_WL_EDITED), 0);
    EXPECT_NE(panel->getParent(), nullptr);

    // Equal ends pass; the values posted are width and level, from the dialog's window, which
    // then closes.
    lo->setString("7");
    hi->setString("7");
    EXPECT_TRUE(dialog->onResponseReturn());
    step(3);
    ASSERT_EQ(recorder.count(NOTIFY_WL_EDITED), 1);
    EXPECT_EQ(recorder.items[0].sender, panel);
    EXPECT_EQ(recorder.items[0].text, "{\"ww\":\"200.000000\",\"wl\":\"40.000000\"}");
    EXPECT_EQ(home->getChildByName(editWW::kNodeName), nullptr);
    recorder.release();
}

TEST_F(FavoriteScreensTest, TagListShowsChineseAndJapaneseNamesAndCutsDescriptionsOnCharacters)
{
    const size_t n = dcmInfoList::kIntroCharacters;
    EXPECT_EQ(NSUI::cutToCharacters("ABCDEFGHIJKLMNOPQRST", n), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(NSUI::cutToCharacters("ABCDEFGHIJKLMNOPQRSTU", n), "ABCDEFGHIJKLMNOPQRS\u2026");
    // Twenty-one characters of three bytes each: nineteen whole characters and the ellipsis.
    std::string wide;
    for (int i = 0; i < 21; ++i)
        wide += "\xe5\xb1\xb1";
    EXPECT_EQ(NSUI::cutToCharacters(wide, n), wide.substr(0, 57) + "\u2026");

    struct Case {
        const char* file;
        const char* charset;
        std::string stored;    // the bytes in the file
        std::string expected;  // UTF-8
    };
    const Case cases[] = {
        {"chinese.dcm", "GB18030", "\xcd\xf5\xd0\xa1\xc3\xf7", "\xe7\x8e\x8b\xe5\xb0\x8f\xe6\x98\x8e"},
        {"japanese.dcm", "\\ISO 2022 IR 87", "Yamada^Taro=\x1b$B;3ED\x1b(B^\x1b$BB@O:\x1b(B",
         "Yamada^Taro=\xe5\xb1\xb1\xe7\x94\xb0^\xe5\xa4\xaa\xe9\x83\x8e"},
    };
    for (const Case& c : cases) {
        qvgen::ImageSpec spec;
        spec.patientName = c.stored;
        spec.extra.push_back({{0x0008, 0x0005}, c.charset});
        const std::string path = scratch + c.file;
        std::string error;
        ASSERT_TRUE(qvgen::writeDicomFile(path, spec, &error)) << error;

        NSUI::NSResponseWindow* window = dcmInfoList::createWindow();
        ASSERT_NE(window, nullptr);
        home->addChild(window);  // on the stage before the path: the path starts the load
        dcmInfoList* list = dcmInfoList::fromWindow(window);
        ASSERT_NE(list, nullptr);
        step();
        list->setFilePath(path);
        ASSERT_TRUE(stepUntil([list] { return list->isLoaded(); })) << c.file;
        NSUI::NSListView* rows = list->getList();
        ASSERT_NE(rows, nullptr);
        ASSERT_GT(rows->getRowCount(), 10);
        bool metaSeen = false, found = false;
        for (ssize_t i = 0; i < rows->getRowCount(); ++i) {
            auto* row = static_cast<dcmInfoList::listObject*>(rows->getRowData()[i]);
            // File meta elements (flagged) come after every data-set element.
            if (row->tag.rfind("(0002,", 0) == 0)
                metaSeen = true;
            else
                EXPECT_FALSE(metaSeen) << row->tag << " after the file meta elements";
            EXPECT_LE(NSUI::splitUtf8(row->intro).size(), dcmInfoList::kIntroCharacters) << row->intro;
            if (row->tag == "(0002,0001)") {  // the version's description is too long: it is cut visibly
                EXPECT_EQ(row->intro, NSUI::cutToCharacters("FileMetaInformationVersion", 20)) << c.file;
            }
            if (row->tag == "(0010,0010)") {
                EXPECT_EQ(row->value, c.expected) << c.file;
                found = true;
            }
        }
        EXPECT_TRUE(metaSeen);
        EXPECT_TRUE(found) << c.file;
        // The row on screen shows the same text.
        step(2);
        window->removeFromParent();
        step();
    }
}
