// Layout files: the checker of the format (good and broken documents) and the loader (the
// sample layout into the right tree, caching, missing and malformed files, missing images).
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "cocos2d.h"
#include "cocostudio/CocoStudio.h"
#include "cocostudio/LayoutDocument.h"
#include "support/HeadlessDirector.h"
#include "support/TempDir.h"
#include "support/WidgetTest.h"
#include "ui/CocosGUI.h"
#include "qvTestPaths.h"

USING_NS_CC;
using cocostudio::LayoutDocument;

namespace {

std::string wrap(const std::string& root)
{
    return R"({"format": "quorvane-layout", "version": 1, "root": )" + root + "}";
}

std::string parseError(const std::string& text)
{
    std::string error;
    auto document = LayoutDocument::parse(text, "test.csb", error);
    return document ? std::string("<ok>") : error;
}

} // namespace

TEST(LayoutDocument, AcceptsEveryTypeAndField)
{
    const std::string text = wrap(R"({
      "type": "Layout", "name": "root", "tag": 7, "position": [0, 0], "anchor": [0, 0], "size": [960, 640],
      "layoutType": 3, "clipping": true, "bgColorType": "solid", "bgColor": [1, 2, 3], "bgOpacity": 128,
      "scale": [1, 1], "rotation": 0, "visible": true, "zOrder": -2, "opacity": 255, "color": [255, 255, 255],
      "touchEnabled": false, "ignoreContentAdapt": false, "userString": "u",
      "children": [
        {"type": "Node", "name": "n", "positionPercent": [0.5, 0.5], "sizePercent": [0.1, 0.2]},
        {"type": "Layer"},
        {"type": "Sprite", "texture": "a.png", "flipX": true, "flipY": false},
        {"type": "Scale9Sprite", "texture": "a.png", "capInsets": [1, 2, 3, 4]},
        {"type": "ImageView", "texture": "a.png", "scale9": true, "capInsets": [0, 0, 1, 1],
         "layoutParameter": {"kind": "relative", "align": 9, "relativeName": "img", "margin": [1, 2, 3, 4]}},
        {"type": "Button", "normal": "n.png", "pressed": "p.png", "disabled": "d.png", "scale9": false,
         "capInsets": [0, 0, 0, 0], "title": "Go", "titleFontSize": 20.5, "titleColor": [0, 0, 0],
         "titleFont": "", "pressedAction": true,
         "layoutParameter": {"kind": "linear", "gravity": "centerVertical", "margin": [0, 0, 0, 0]}},
        {"type": "Text", "text": "t", "fontName": "", "fontSize": 12, "textColor": [1, 2, 3, 4],
         "hAlign": "center", "vAlign": "bottom", "areaSize": [100, 20]},
        {"type": "Slider", "bar": "b.png", "ball": ["n.png", "p.png", "d.png"], "progress": "p.png", "percent": 50},
        {"type": "CheckBox", "background": "b.png", "cross": "c.png", "selected": true},
        {"type": "TextField", "text": "", "placeholder": "ip", "fontSize": 25, "textColor": [0, 0, 0, 255]}
      ]})");
    qvtest::LogCapture log;
    std::string error;
    auto document = LayoutDocument::parse(text, "all.csb", error);
    ASSERT_TRUE(document) << error;
    EXPECT_EQ(document->root().at("children").size(), 10u);
    EXPECT_TRUE(log.lines().empty());
}

TEST(LayoutDocument, RefusesBrokenDocuments)
{
    EXPECT_NE(parseError(""), "<ok>");
    EXPECT_EQ(parseError("[]"), "the document must be a JSON object");
    EXPECT_NE(parseError(wrap(R"({"type": "Node")")).find("not valid JSON"), std::string::npos);
    EXPECT_EQ(parseError(R"({"format": "other", "version": 1, "root": {"type": "Node"}})"),
              "\"format\" must be \"quorvane-layout\"");
    EXPECT_NE(parseError(R"({"format": "quorvane-layout", "version": 2, "root": {"type": "Node"}})")
                  .find("unsupported \"version\""),
              std::string::npos);
    EXPECT_EQ(parseError(R"({"format": "quorvane-layout", "version": 1})"), "missing \"root\"");
    EXPECT_EQ(parseError(wrap(R"({"name": "x"})")), "root: missing \"type\"");
    EXPECT_EQ(parseError(wrap(R"({"type": "Node", "children": [{"type": "Widgetoid", "name": "w"}]})")),
              "root (Node)/children[0]: unknown type \"Widgetoid\"");
    EXPECT_EQ(parseError(wrap(R"({"type": "Node", "children": [3]})")),
              "root (Node)/children[0]: a node must be an object");

    // Known fields with the wrong kind or range.
    EXPECT_EQ(parseError(wrap(R"({"type": "Node", "name": "r", "position": [1]})")),
              "root (Node \"r\"): \"position\" must be [x, y]");
    EXPECT_NE(parseError(wrap(R"({"type": "Node", "size": [-1, 2]})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Node", "tag": 1.5})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Node", "opacity": 256})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Node", "visible": "yes"})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Layout", "layoutType": 6})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Slider", "percent": 101})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Slider", "ball": []})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Text", "hAlign": "middle"})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "Text", "textColor": [1, 2, 3]})")), "<ok>");
    EXPECT_NE(parseError(wrap(R"({"type": "ImageView", "capInsets": [0, 0, -1, 1]})")), "<ok>");
    EXPECT_EQ(parseError(wrap(R"({"type": "Button", "layoutParameter": {"kind": "grid"}})")),
              "root (Button): layoutParameter \"kind\" must be \"relative\" or \"linear\"");

    // Hostile nesting is refused, not recursed into without end.
    std::string deep = R"({"type": "Node"})";
    for (int i = 0; i < 200; ++i)
        deep = R"({"type": "Node", "children": [)" + deep + "]}";
    EXPECT_NE(parseError(wrap(deep)).find("nested deeper than 64 levels"), std::string::npos);
}

TEST(LayoutDocument, UnknownFieldsAreLoggedOnceAndIgnored)
{
    qvtest::LogCapture log;
    // "texture" is not a field of Node, and "touchEnabled" only of widgets.
    const std::string text = wrap(R"({"type": "Node", "name": "r", "colour": [1, 2, 3], "children": [
        {"type": "Node", "colour": [4, 5, 6], "texture": "x.png"},
        {"type": "Sprite", "touchEnabled": true}]})");
    EXPECT_EQ(parseError(text), "<ok>");
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "CSLoader: test.csb: root (Node \"r\"): unknown field \"colour\" ignored");
    EXPECT_NE(lines[1].find("unknown field \"texture\""), std::string::npos);
    EXPECT_NE(lines[2].find("unknown field \"touchEnabled\""), std::string::npos);
}

// ----- the loader

namespace {

class CSLoaderTest : public qvtest::WidgetTest {
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        FileUtils::getInstance()->setSearchPaths({std::string(QV_TEST_DATA_DIR) + "/layouts", resources / "pad"});
        FileUtils::getInstance()->createDirectory(resources / "img");
        FileUtils::getInstance()->createDirectory(resources / "pad");
        image("img/btn.png", 100, 40);
        image("img/btnDown.png", 100, 40);
        image("img/sep.png", 4, 4);
        image("img/bar.png", 200, 10);
        image("img/ball.png", 20, 20);
        image("img/box.png", 30, 30);
        image("img/cross.png", 30, 30);
        image("img/logo.png", 64, 32);
    }
    void TearDown() override
    {
        cocostudio::destroyCocosStudio();
        WidgetTest::TearDown();
    }
    // Writes a layout under the second search path.
    void layout(const std::string& name, const std::string& text) { qvtest::writeFile(resources / ("pad/" + name), text); }

    template <class T> T* child(Node* root, const std::string& name)
    {
        Node* node = root->getChildByNameDeep(name);
        EXPECT_NE(node, nullptr) << name;
        T* typed = dynamic_cast<T*>(node);
        EXPECT_NE(typed, nullptr) << name << " has the wrong kind";
        return typed;
    }
};

} // namespace

TEST_F(CSLoaderTest, BuildsTheSampleIntoTheRightTree)
{
    qvtest::LogCapture log;
    Node* root = CSLoader::createNode("sample.csb");
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(log.lines().empty()) << log.lines().front();
    auto* screen = dynamic_cast<ui::Layout*>(root);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->getName(), "screen");
    EXPECT_EQ(screen->getContentSize(), Size(960, 640));
    EXPECT_EQ(screen->getBackGroundColorType(), ui::Layout::BackGroundColorType::SOLID);
    EXPECT_EQ(screen->getBackGroundColor(), Color3B(30, 30, 30));
    EXPECT_EQ(screen->getChildrenCount(), 9);

    auto* bar = child<ui::Layout>(root, "topBar");
    EXPECT_EQ(bar->getLayoutType(), ui::Layout::Type::RELATIVE);
    auto* back = child<ui::Button>(root, "goBack");
    EXPECT_EQ(back->getParent(), bar);
    EXPECT_EQ(back->getTitleText(), "Back");
    EXPECT_EQ(back->getTitleFontSize(), 24);
    EXPECT_TRUE(back->isPressedActionEnabled());
    EXPECT_EQ(back->getContentSize(), Size(100, 40));
    auto* title = child<ui::Text>(root, "title");
    EXPECT_EQ(title->getString(), "Patients");
    EXPECT_EQ(title->getFontSize(), 28);

    Node* tool = child<Node>(root, "tool");
    EXPECT_EQ(tool->getContentSize(), Size(300, 580));
    EXPECT_EQ(typeid(*tool), typeid(Node));
    auto* separator = child<ui::ImageView>(root, "Image_5");
    EXPECT_EQ(separator->getContentSize(), Size(4, 580)) << "a given size holds";
    EXPECT_TRUE(separator->isScale9Enabled());
    auto* slider = child<ui::Slider>(root, "sliderSlice");
    EXPECT_EQ(slider->getPercent(), 30);
    EXPECT_EQ(slider->getContentSize(), Size(200, 10));
    EXPECT_TRUE(child<ui::CheckBox>(root, "chkAll")->isSelected());
    auto* field = child<ui::TextField>(root, "editIP");
    EXPECT_EQ(field->getPlaceHolder(), "IP address");
    EXPECT_EQ(field->getTextColor(), Color4B(44, 44, 44, 255));
    EXPECT_TRUE(child<Sprite>(root, "logo")->isFlippedX());
    EXPECT_EQ(child<ui::Scale9Sprite>(root, "bubble")->getContentSize(), Size(200, 80));

    Node* rois = child<Node>(root, "roiList");
    EXPECT_FALSE(rois->isVisible());
    EXPECT_EQ(rois->getTag(), 7);
    EXPECT_EQ(rois->getLocalZOrder(), 3);
    EXPECT_EQ(rois->getUserString(), "rois");
    EXPECT_EQ(rois->getOpacity(), 128);
    EXPECT_EQ(rois->getColor(), Color3B(10, 20, 30));
    EXPECT_EQ(rois->getScaleX(), 2.0f);
    EXPECT_EQ(rois->getScaleY(), 0.5f);
    EXPECT_EQ(rois->getRotation(), 90.0f);
    EXPECT_EQ(screen->getChildren().back(), rois) << "the highest z-order is drawn last";

    // Laid out as the screens do it.
    ui::Helper::doLayout(root);
    EXPECT_FLOAT_EQ(back->getLeftBoundary(), 10.0f);
    EXPECT_FLOAT_EQ(back->getBottomBoundary(), 10.0f);
    EXPECT_FLOAT_EQ(title->getPositionX(), 480.0f);
    EXPECT_EQ(child<ui::CheckBox>(root, "chkAll")->getPosition(), Vec2(864, 320));
}

TEST_F(CSLoaderTest, ParsedLayoutsAreCachedUntilTheLoaderIsDestroyed)
{
    const std::string v1 = R"({"format": "quorvane-layout", "version": 1, "root": {"type": "Node", "name": "one"}})";
    const std::string v2 = R"({"format": "quorvane-layout", "version": 1, "root": {"type": "Node", "name": "two"}})";
    layout("cached.csb", v1);
    Node* first = CSLoader::createNode("cached.csb");
    ASSERT_NE(first, nullptr);
    layout("cached.csb", v2);
    Node* second = CSLoader::createNode("cached.csb");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second) << "every call builds a new tree";
    EXPECT_EQ(second->getName(), "one");
    EXPECT_EQ(CSLoader::getInstance()->getCachedDocumentCount(), 1u);

    cocostudio::destroyCocosStudio();
    EXPECT_EQ(CSLoader::createNode("cached.csb")->getName(), "two");
}

TEST_F(CSLoaderTest, MissingOrMalformedLayoutsLogAndGiveNull)
{
    qvtest::LogCapture log;
    EXPECT_EQ(CSLoader::createNode("nothing.csb"), nullptr);
    EXPECT_EQ(CSLoader::createNode(""), nullptr);
    layout("binary.csb", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    EXPECT_EQ(CSLoader::createNode("binary.csb"), nullptr);
    layout("empty.csb", "");
    EXPECT_EQ(CSLoader::createNode("empty.csb"), nullptr);
    layout("unknown.csb", R"({"format": "quorvane-layout", "version": 1, "root": {"type": "Layout", "children": [
        {"type": "Node", "children": [{"type": "ListView", "name": "list"}]}]}})");
    EXPECT_EQ(CSLoader::createNode("unknown.csb"), nullptr);
    layout("wrong.csb", R"({"format": "quorvane-layout", "version": 1, "root": {"type": "Button", "title": 5}})");
    EXPECT_EQ(CSLoader::createNode("wrong.csb"), nullptr);

    std::vector<std::string> lines;
    for (const std::string& line : log.lines()) {
        if (line.rfind("CSLoader:", 0) == 0)
            lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "CSLoader: cannot load nothing.csb: no such file");
    EXPECT_EQ(lines[1], "CSLoader: cannot load : no such file");
    EXPECT_EQ(lines[2].rfind("CSLoader: cannot load binary.csb: not valid JSON", 0), 0u);
    EXPECT_EQ(lines[3].rfind("CSLoader: cannot load empty.csb: not valid JSON", 0), 0u);
    EXPECT_EQ(lines[4], "CSLoader: cannot load unknown.csb: root (Layout)/children[0] (Node)/children[0]: unknown "
                        "type \"ListView\"");
    EXPECT_EQ(lines[5], "CSLoader: cannot load wrong.csb: root (Button): \"title\" must be a text");
    EXPECT_EQ(CSLoader::getInstance()->getCachedDocumentCount(), 0u) << "failures are not cached";
}

TEST_F(CSLoaderTest, AMissingImageKeepsTheNode)
{
    qvtest::LogCapture log;
    layout("noimage.csb", R"({"format": "quorvane-layout", "version": 1, "root": {"type": "Node", "children": [
        {"type": "Sprite", "name": "s", "texture": "img/none.png"},
        {"type": "ImageView", "name": "i", "texture": "img/none.png"},
        {"type": "Button", "name": "b", "normal": "img/none.png", "title": "OK"}]}})");
    Node* root = CSLoader::createNode("noimage.csb");
    ASSERT_NE(root, nullptr);
    EXPECT_NE(child<Sprite>(root, "s"), nullptr);
    EXPECT_EQ(child<ui::ImageView>(root, "i")->getContentSize(), Size::ZERO);
    EXPECT_EQ(child<ui::Button>(root, "b")->getTitleText(), "OK");
    EXPECT_EQ(log.count("CSLoader: noimage.csb: cannot load image img/none.png"), 1u);
}
