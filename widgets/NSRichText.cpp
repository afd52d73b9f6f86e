#include "NSRichText.h"

#include <algorithm>
#include <cmath>

namespace NSUI
{

std::vector<std::string> splitUtf8(const std::string& text)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size())
    {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = 1;
        if (c >= 0xF0 && c < 0xF8)
            n = 4;
        else if (c >= 0xE0)
            n = 3;
        else if (c >= 0xC0)
            n = 2;
        if (n > 1)
        {
            bool ok = i + n <= text.size();
            for (size_t k = 1; ok && k < n; ++k)
                ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (!ok)
                n = 1;
        }
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

NSRichElementText* NSRichElementText::create(int tag, std::string text, std::string fontName, float fontSize,
                                             cocos2d::Color3B color, GLubyte opacity)
{
    auto* element = new (std::nothrow) NSRichElementText();
    if (element == nullptr)
        return nullptr;
    element->type = TEXT;
    element->tag = tag;
    element->text = std::move(text);
    element->fontName = std::move(fontName);
    element->fontSize = fontSize;
    element->color = color;
    element->opacity = opacity;
    element->autorelease();
    return element;
}

NSRichText* NSRichText::create()
{
    auto* rich = new (std::nothrow) NSRichText();
    if (rich != nullptr && rich->init())
    {
        rich->autorelease();
        return rich;
    }
    delete rich;
    return nullptr;
}

bool NSRichText::init()
{
    if (!cocos2d::ui::Widget::init())
        return false;
    setOwnerNode(this);
    viewHeight = 100;
    container = UIScrollViewBase::create();
    container->setLayoutType(cocos2d::ui::Layout::Type::ABSOLUTE);
    container->setDirection(ScrollDirection::VERTICAL);
    container->setAnchorPoint(cocos2d::Vec2::ZERO);
    container->setPosition(cocos2d::Vec2::ZERO);
    addChild(container);
    return true;
}

NSRichText::~NSRichText()
{
    for (auto* element : elements)
        element->release();
}

void NSRichText::cleanup()
{
    cocos2d::ProtectedNode::cleanup();
    for (auto* element : elements)
        element->release();
    elements.clear();
}

void NSRichText::createRenderer(NSRichElement* element)
{
    auto* text = dynamic_cast<NSRichElementText*>(element);
    if (text == nullptr)
        return;
    cocos2d::Label* label = nullptr;
    if (!text->getFontName().empty() && cocos2d::FileUtils::getInstance()->isFileExist(text->getFontName()))
        label = cocos2d::Label::createWithTTF(text->getText(), text->getFontName(), text->getFontSize(),
                                              cocos2d::Size::ZERO, cocos2d::TextHAlignment::LEFT,
                                              cocos2d::TextVAlignment::TOP);
    if (label == nullptr)
        label = cocos2d::Label::createWithSystemFont(text->getText(), text->getFontName(), text->getFontSize(),
                                                     cocos2d::Size::ZERO, cocos2d::TextHAlignment::LEFT,
                                                     cocos2d::TextVAlignment::TOP);
    label->setColor(element->color);
    label->setOpacity(element->opacity);
    element->renderer = label;
    container->addChild(label, 1);
}

void NSRichText::insertElement(NSRichElement* element, int index, bool relayout)
{
    if (element == nullptr)
        return;
    index = std::clamp(index, 0, static_cast<int>(elements.size()));
    auto* text = dynamic_cast<NSRichElementText*>(element);
    std::vector<std::string> chars;
    if (text != nullptr)
        chars = splitUtf8(text->getText());
    if (text == nullptr || chars.size() < 2)
    {
        element->retain();
        elements.insert(elements.begin() + index, element);
        createRenderer(element);
    }
    else
    {
        std::string rest;
        for (size_t i = 1; i < chars.size(); ++i)
            rest += chars[i];
        text->setText(chars[0]);
        insertElement(text, index, false);
        auto* next = NSRichElementText::create(static_cast<int>(elements.size()) + 1, rest, text->getFontName(),
                                               text->getFontSize(), text->color, text->opacity);
        insertElement(next, index + 1, false);
    }
    if (relayout)
        formatText();
}

void NSRichText::pushBackElement(NSRichElement* element, bool relayout)
{
    insertElement(element, static_cast<int>(elements.size()), relayout);
}

void NSRichText::removeElement(int index)
{
    if (index < 0 || index >= static_cast<int>(elements.size()))
        return;
    NSRichElement* element = elements[index];
    if (element->renderer != nullptr)
        container->removeChild(element->renderer, true);
    element->release();
    elements.erase(elements.begin() + index);
    formatText();
}

void NSRichText::clearElements()
{
    for (auto* element : elements)
        element->release();
    elements.clear();
    container->removeAllChildren();
}

void NSRichText::formatText()
{
    if (elements.empty())
        return;
    const int W = static_cast<int>(getContentSize().width);

    // Measuring pass: line heights.
    std::vector<float> lineHeights(1, 0.0f);
    int remaining = W;
    for (auto* element : elements)
    {
        if (element->renderer == nullptr)
            continue;
        const cocos2d::Size size = element->renderer->getContentSize();
        remaining = static_cast<int>(std::trunc(static_cast<float>(remaining) - size.width));
        if (remaining < 0)
        {
            lineHeights.push_back(size.height);
            remaining = static_cast<int>(std::trunc(static_cast<float>(W) - size.width));
        }
        else
        {
            lineHeights.back() = std::max(lineHeights.back(), size.height);
        }
    }
    float total = 0.0f;
    for (float h : lineHeights)
        total += h;

    // Placing pass, from the top line down.
    size_t line = 0;
    float y = total - lineHeights[0];
    float x = 0.0f;
    remaining = W;
    for (auto* element : elements)
    {
        cocos2d::Node* label = element->renderer;
        if (label == nullptr)
            continue;
        const float w = label->getContentSize().width;
        remaining = static_cast<int>(std::trunc(static_cast<float>(remaining) - w));
        if (remaining < 0)
        {
            ++line;
            remaining = static_cast<int>(std::trunc(static_cast<float>(W) - w));
            y -= lineHeights[line];
            label->setPosition(cocos2d::Vec2(0.0f, y));
            x = w;
        }
        else
        {
            label->setPosition(cocos2d::Vec2(x, y));
            x += w;
        }
        label->setAnchorPoint(cocos2d::Vec2::ZERO);
        label->setContentSize(cocos2d::Size(w, lineHeights[line]));
    }

    const float width = getContentSize().width;
    if (total > static_cast<float>(viewHeight))
    {
        const cocos2d::Size view(width, static_cast<float>(viewHeight));
        setContentSize(view);
        container->setContentSize(view);
        container->setInnerContainerSize(cocos2d::Size(width, total));
    }
    else
    {
        const cocos2d::Size size(width, total);
        setContentSize(size);
        container->setContentSize(size);
        container->setInnerContainerSize(size);
    }
}

void NSRichText::setText(std::string text, std::string fontName, int fontSize, cocos2d::Color3B color)
{
    clearElements();
    for (const std::string& c : splitUtf8(text))
        pushBackElement(NSRichElementText::create(static_cast<int>(elements.size()) + 1, c, fontName,
                                                  static_cast<float>(fontSize), color, 255),
                        false);
    formatText();
    container->jumpToDestination(cocos2d::Vec2(container->getInnerContainer()->getPositionX(), 0.0f));
}

cocos2d::Vec2 NSRichText::getCursorPosition(int index)
{
    const int n = static_cast<int>(elements.size());
    if (n == 0)
        return cocos2d::Vec2::ZERO;
    index = std::max(index, 0);
    if (index < n)
        return elements[index]->renderer != nullptr ? elements[index]->renderer->getPosition() : cocos2d::Vec2::ZERO;
    cocos2d::Node* last = elements[n - 1]->renderer;
    if (last == nullptr)
        return cocos2d::Vec2::ZERO;
    return last->getPosition() + cocos2d::Vec2(last->getContentSize().width, 0.0f);
}

int NSRichText::getIndexAtTouch(cocos2d::Touch* touch)
{
    const int n = static_cast<int>(elements.size());
    if (n == 0)
        return -1;
    for (int i = 0; i < n; ++i)
    {
        cocos2d::Node* label = elements[i]->renderer;
        if (label == nullptr)
            continue;
        const cocos2d::Vec2 p = label->convertToNodeSpace(touch->getLocation());
        const cocos2d::Size& size = label->getContentSize();
        if (cocos2d::Rect(0.0f, 0.0f, size.width, size.height).containsPoint(p))
            return p.x > size.width / 2 ? i + 1 : i;
    }
    return n;
}

void NSRichText::setLineHeight(int height)
{
    if (height > 0)
        viewHeight = height;
}

} // namespace NSUI
