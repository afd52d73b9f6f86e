#include "UIControlBase.h"

#include "NSStringUtil.h"
#include "WidgetUtil.h"

#include <algorithm>
#include <string>
#include <vector>

namespace NSUI
{

const char* const kMessageBoxName = "messageBox";
const char* const kMessageBoxTextName = "messageBox.text";

namespace
{
constexpr float kMessageBoxHeight = 80.0f;
constexpr float kMessageBoxWidthRatio = 0.8f;
constexpr float kMessageBoxFontSize = 23.0f;
// Between a toast's text and its box's edges.
constexpr float kMessageBoxPadding = 16.0f;

// The text in lines no wider than width (points, at the toast's font size). Lines break at spaces
// and, inside a word too long for a line (a file's path), after a '/': never inside a name.
std::string breakIntoLines(const std::string& text, float width)
{
    // Pieces that may not be split: each ends before a space, or with a '/'.
    struct Piece
    {
        std::string text;
        bool spaceAfter;
    };
    std::vector<Piece> pieces;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c == ' ' || c == '\n')
        {
            pieces.push_back({current, c == ' '});
            if (c == '\n')
                pieces.push_back({"\n", false});
            current.clear();
        }
        else
        {
            current += c;
            if (c == '/')
            {
                pieces.push_back({current, false});
                current.clear();
            }
        }
    }
    pieces.push_back({current, false});

    const auto measure = [](const std::string& line) {
        return line.empty() ? 0.0f : cocos2d::Label::create(line, "", kMessageBoxFontSize)->getContentSize().width;
    };
    std::string out;
    std::string line;
    bool pendingSpace = false;
    for (const Piece& piece : pieces)
    {
        if (piece.text == "\n")
        {
            out += line + "\n";
            line.clear();
            pendingSpace = false;
            continue;
        }
        const std::string joined = line + (pendingSpace ? " " : "") + piece.text;
        if (!line.empty() && measure(joined) > width)
        {
            out += line + "\n";
            line = piece.text;
        }
        else
        {
            line = joined;
        }
        pendingSpace = piece.spaceAfter;
    }
    return out + line;
}

// Centred across the window near its bottom, most of its width wide; the text wraps inside it
// and the box is as high as its lines need.
void fitMessageBox(cocos2d::Node* box)
{
    const cocos2d::Size win = cocos2d::Director::getInstance()->getWinSize();
    const float width = win.width * kMessageBoxWidthRatio;
    float height = kMessageBoxHeight;
    if (auto* label = dynamic_cast<cocos2d::ui::Text*>(box->getChildByNameDeep(kMessageBoxTextName)))
    {
        // The message as given is kept on the box: its lines are made again for each width.
        label->setString(breakIntoLines(box->getUserString(), width - 2 * kMessageBoxPadding));
        label->setTextAreaSize(cocos2d::Size(width - 2 * kMessageBoxPadding, 0.0f));
        height = std::max(kMessageBoxHeight, label->getContentSize().height + 2 * kMessageBoxPadding);
    }
    box->setPosition(cocos2d::Vec2(win.width * 0.5f, win.height * 0.15f));
    box->setContentSize(cocos2d::Size(width, height));
}
} // namespace

cocos2d::Node* UIControlBase::createMessageNode()
{
    auto* box = cocos2d::ui::Layout::create();
    if (box == nullptr)
        return nullptr;
    box->setBackGroundColorType(cocos2d::ui::Layout::BackGroundColorType::SOLID);
    box->setBackGroundColor(cocos2d::Color3B(88, 88, 88));
    box->setBackGroundColorOpacity(233);
    box->setName(kMessageBoxName);

    auto* text = cocos2d::ui::Text::create("", "", kMessageBoxFontSize);
    text->setName(kMessageBoxTextName);
    text->setTextColor(cocos2d::Color4B::WHITE);
    text->setAnchorPoint(cocos2d::Vec2::ANCHOR_MIDDLE);
    text->setTextHorizontalAlignment(cocos2d::TextHAlignment::CENTER);
    text->enableShadow(cocos2d::Color4B::BLACK, cocos2d::Size(2, -2), 0);
    text->setPositionType(cocos2d::ui::Widget::PositionType::PERCENT);
    text->setPositionPercent(cocos2d::Vec2(0.5f, 0.5f));
    box->addChild(text, kMessageBoxTextZOrder);
    return box;
}

void UIControlBase::showMessage(std::string text, float seconds)
{
    cocos2d::Scene* scene = cocos2d::Director::getInstance()->getRunningScene();
    if (scene == nullptr)
        return;

    cocos2d::Node* box = scene->getChildByName(kMessageBoxName);
    if (box == nullptr)
    {
        box = createMessageNode();
        if (box == nullptr)
            return;
        scene->addChild(box);
        box->setName(kMessageBoxName);
        box->setAnchorPoint(cocos2d::Vec2::ANCHOR_MIDDLE);
        box->setLocalZOrder(kMessageBoxZOrder);
        // The box stays with the scene: it follows every change of the window's size, shown or not.
        listenForWindowResize(box, [box] { fitMessageBox(box); });
    }
    // A message longer than the box wraps inside it (a file's path, say), and the box grows to
    // hold its lines. Names from outside it may quote are drawn as text whatever their bytes.
    box->setUserString(validUtf8(text));
    fitMessageBox(box);
    if (!box->isVisible())
        box->setVisible(true);
    scene->setMessageNode(box, seconds);
}

cocos2d::Vec2 UIControlBase::getPositionInWindow(float fx, float fy)
{
    const cocos2d::Size win = cocos2d::Director::getInstance()->getWinSize();
    return cocos2d::Vec2(win.width * fx, win.height * fy);
}

void UIControlBase::setRelativeLayout(int align, std::string relativeName, cocos2d::ui::Margin margin)
{
    auto* widget = dynamic_cast<cocos2d::ui::Widget*>(ownerNode);
    if (widget == nullptr || align < 1 || align > 9)
        return;
    auto* param = cocos2d::ui::RelativeLayoutParameter::create();
    param->setAlign(static_cast<cocos2d::ui::RelativeLayoutParameter::RelativeAlign>(align));
    widget->setLayoutParameter(param);
    param->setRelativeName(relativeName);
    param->setMargin(margin);
}

} // namespace NSUI
