// Layout files: the checker of the format (good and broken documents).
#include <gtest/gtest.h>

#include <string>

#include "cocos2d.h"
#include "cocostudio/LayoutDocument.h"
#include "support/HeadlessDirector.h"

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
