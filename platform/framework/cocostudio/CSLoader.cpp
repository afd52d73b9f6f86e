#include "cocostudio/CSLoader.h"

#include "2d/CCSprite.h"
#include "base/CCConsole.h"
#include "cocostudio/CocoStudio.h"
#include "cocostudio/LayoutDocument.h"
#include "node/CCLayer.h"
#include "platform/CCFileUtils.h"
#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIImageView.h"
#include "ui/UILayout.h"
#include "ui/UIScale9Sprite.h"
#include "ui/UISlider.h"
#include "ui/UIText.h"
#include "ui/UITextField.h"

using nlohmann::json;

namespace cocos2d {

namespace {

CSLoader* s_loader = nullptr;

// Readers of fields the document checker has already validated.
std::string text(const json& node, const char* key, const std::string& fallback = std::string())
{
    const auto it = node.find(key);
    return it == node.end() ? fallback : it->get<std::string>();
}

bool has(const json& node, const char* key) { return node.find(key) != node.end(); }

float number(const json& node, const char* key, float fallback)
{
    const auto it = node.find(key);
    return it == node.end() ? fallback : it->get<float>();
}

bool flag(const json& node, const char* key, bool fallback)
{
    const auto it = node.find(key);
    return it == node.end() ? fallback : it->get<bool>();
}

Vec2 vec2(const json& v) { return Vec2(v[0].get<float>(), v[1].get<float>()); }

Size size2(const json& v) { return Size(v[0].get<float>(), v[1].get<float>()); }

Rect rect4(const json& v) { return Rect(v[0].get<float>(), v[1].get<float>(), v[2].get<float>(), v[3].get<float>()); }

Color3B color3(const json& v) { return Color3B(v[0].get<GLubyte>(), v[1].get<GLubyte>(), v[2].get<GLubyte>()); }

Color4B color4(const json& v)
{
    return Color4B(v[0].get<GLubyte>(), v[1].get<GLubyte>(), v[2].get<GLubyte>(), v[3].get<GLubyte>());
}

TextHAlignment hAlign(const std::string& s)
{
    return s == "center" ? TextHAlignment::CENTER : s == "right" ? TextHAlignment::RIGHT : TextHAlignment::LEFT;
}

TextVAlignment vAlign(const std::string& s)
{
    return s == "center" ? TextVAlignment::CENTER : s == "bottom" ? TextVAlignment::BOTTOM : TextVAlignment::TOP;
}

ui::LinearLayoutParameter::LinearGravity gravity(const std::string& s)
{
    using G = ui::LinearLayoutParameter::LinearGravity;
    if (s == "left") return G::LEFT;
    if (s == "top") return G::TOP;
    if (s == "right") return G::RIGHT;
    if (s == "bottom") return G::BOTTOM;
    if (s == "centerVertical") return G::CENTER_VERTICAL;
    if (s == "centerHorizontal") return G::CENTER_HORIZONTAL;
    return G::NONE;
}

ui::LayoutParameter* layoutParameter(const json& p)
{
    ui::LayoutParameter* parameter = nullptr;
    if (text(p, "kind", "relative") == "linear") {
        auto* linear = ui::LinearLayoutParameter::create();
        linear->setGravity(gravity(text(p, "gravity", "none")));
        parameter = linear;
    } else {
        auto* relative = ui::RelativeLayoutParameter::create();
        if (has(p, "align"))
            relative->setAlign(static_cast<ui::RelativeLayoutParameter::RelativeAlign>(p.at("align").get<int>()));
        relative->setRelativeName(text(p, "relativeName"));
        relative->setRelativeToWidgetName(text(p, "relativeTo"));
        parameter = relative;
    }
    if (has(p, "margin")) {
        const json& m = p.at("margin");
        parameter->setMargin(ui::Margin(m[0].get<float>(), m[1].get<float>(), m[2].get<float>(), m[3].get<float>()));
    }
    return parameter;
}

class Builder {
public:
    explicit Builder(const std::string& source) : _source(source) {}

    Node* build(const json& desc)
    {
        Node* node = create(desc);
        if (node == nullptr)
            return nullptr;
        applyCommon(node, desc);
        const auto children = desc.find("children");
        if (children != desc.end()) {
            for (const json& childDesc : *children) {
                Node* child = build(childDesc);
                if (child == nullptr)
                    return nullptr;
                node->addChild(child, child->getLocalZOrder());
            }
        }
        return node;
    }

private:
    Node* create(const json& d)
    {
        const std::string type = d.at("type").get<std::string>();
        if (type == "Node")
            return Node::create();
        if (type == "Layer")
            return Layer::create();
        if (type == "Sprite")
            return sprite(d);
        if (type == "Scale9Sprite") {
            const std::string file = text(d, "texture");
            const Rect insets = has(d, "capInsets") ? rect4(d.at("capInsets")) : Rect::ZERO;
            return file.empty() ? ui::Scale9Sprite::create() : ui::Scale9Sprite::create(insets, file);
        }
        if (type == "ImageView") {
            auto* view = ui::ImageView::create();
            if (has(d, "capInsets"))
                view->setCapInsets(rect4(d.at("capInsets")));
            if (flag(d, "scale9", false))
                view->setScale9Enabled(true);
            view->loadTexture(text(d, "texture"));
            return view;
        }
        if (type == "Button")
            return button(d);
        if (type == "Text") {
            auto* label = ui::Text::create(text(d, "text"), text(d, "fontName"), number(d, "fontSize", 10.0f));
            if (has(d, "textColor"))
                label->setTextColor(color4(d.at("textColor")));
            label->setTextHorizontalAlignment(hAlign(text(d, "hAlign", "left")));
            label->setTextVerticalAlignment(vAlign(text(d, "vAlign", "top")));
            if (has(d, "areaSize"))
                label->setTextAreaSize(size2(d.at("areaSize")));
            return label;
        }
        if (type == "Layout") {
            auto* layout = ui::Layout::create();
            layout->setLayoutType(static_cast<ui::Layout::Type>(d.value("layoutType", 0)));
            layout->setClippingEnabled(flag(d, "clipping", false));
            if (has(d, "bgColor"))
                layout->setBackGroundColor(color3(d.at("bgColor")));
            if (has(d, "bgOpacity"))
                layout->setBackGroundColorOpacity(d.at("bgOpacity").get<GLubyte>());
            if (text(d, "bgColorType", "none") == "solid")
                layout->setBackGroundColorType(ui::Layout::BackGroundColorType::SOLID);
            return layout;
        }
        if (type == "Slider") {
            auto* slider = ui::Slider::create();
            slider->loadBarTexture(text(d, "bar"));
            if (has(d, "ball")) {
                const json& ball = d.at("ball");
                slider->loadSlidBallTextures(ball[0].get<std::string>(), ball.size() > 1 ? ball[1].get<std::string>() : "",
                                             ball.size() > 2 ? ball[2].get<std::string>() : "");
            }
            slider->loadProgressBarTexture(text(d, "progress"));
            slider->setPercent(d.value("percent", 0));
            return slider;
        }
        if (type == "CheckBox") {
            auto* box = ui::CheckBox::create(text(d, "background"), text(d, "cross"));
            box->setSelected(flag(d, "selected", false));
            return box;
        }
        if (type == "TextField") {
            auto* field = ui::TextField::create(text(d, "placeholder"), "", number(d, "fontSize", 10.0f));
            if (has(d, "textColor"))
                field->setTextColor(color4(d.at("textColor")));
            field->setString(text(d, "text"));
            return field;
        }
        // The checker refuses every other type before anything is built.
        return nullptr;
    }

    Node* sprite(const json& d)
    {
        const std::string file = text(d, "texture");
        Sprite* sprite = file.empty() ? nullptr : Sprite::create(file);
        if (sprite == nullptr) {
            if (!file.empty())
                log("CSLoader: %s: cannot load image %s", _source.c_str(), file.c_str());
            sprite = Sprite::create();
        }
        sprite->setFlippedX(flag(d, "flipX", false));
        sprite->setFlippedY(flag(d, "flipY", false));
        return sprite;
    }

    Node* button(const json& d)
    {
        auto* button = ui::Button::create();
        if (has(d, "capInsets"))
            button->setCapInsets(rect4(d.at("capInsets")));
        if (flag(d, "scale9", false))
            button->setScale9Enabled(true);
        button->loadTextures(text(d, "normal"), text(d, "pressed"), text(d, "disabled"));
        if (has(d, "titleFont"))
            button->setTitleFontName(text(d, "titleFont"));
        if (has(d, "titleFontSize"))
            button->setTitleFontSize(number(d, "titleFontSize", 10.0f));
        if (has(d, "titleColor"))
            button->setTitleColor(color3(d.at("titleColor")));
        if (has(d, "title"))
            button->setTitleText(text(d, "title"));
        button->setPressedActionEnabled(flag(d, "pressedAction", false));
        return button;
    }

    void applyCommon(Node* node, const json& d)
    {
        auto* widget = dynamic_cast<ui::Widget*>(node);
        node->setName(text(d, "name"));
        if (has(d, "tag"))
            node->setTag(d.at("tag").get<int>());
        if (has(d, "anchor"))
            node->setAnchorPoint(vec2(d.at("anchor")));
        if (has(d, "size"))
            node->setContentSize(size2(d.at("size")));
        if (widget != nullptr) {
            // A given size holds unless the file asks for the content's size.
            if (has(d, "ignoreContentAdapt"))
                widget->ignoreContentAdaptWithSize(flag(d, "ignoreContentAdapt", true));
            else if (has(d, "size"))
                widget->ignoreContentAdaptWithSize(false);
            if (has(d, "sizePercent")) {
                widget->setSizeType(ui::Widget::SizeType::PERCENT);
                widget->setSizePercent(vec2(d.at("sizePercent")));
            }
        }
        if (has(d, "position"))
            node->setPosition(vec2(d.at("position")));
        if (widget != nullptr && has(d, "positionPercent")) {
            widget->setPositionType(ui::Widget::PositionType::PERCENT);
            widget->setPositionPercent(vec2(d.at("positionPercent")));
        }
        if (has(d, "scale")) {
            const Vec2 scale = vec2(d.at("scale"));
            node->setScale(scale.x, scale.y);
        }
        if (has(d, "rotation"))
            node->setRotation(number(d, "rotation", 0.0f));
        node->setVisible(flag(d, "visible", true));
        if (has(d, "zOrder"))
            node->setLocalZOrder(d.at("zOrder").get<int>());
        if (has(d, "opacity"))
            node->setOpacity(d.at("opacity").get<GLubyte>());
        if (has(d, "color"))
            node->setColor(color3(d.at("color")));
        if (has(d, "userString"))
            node->setUserString(text(d, "userString"));
        if (widget != nullptr) {
            if (has(d, "touchEnabled"))
                widget->setTouchEnabled(flag(d, "touchEnabled", false));
            if (has(d, "layoutParameter"))
                widget->setLayoutParameter(layoutParameter(d.at("layoutParameter")));
        }
    }

    const std::string& _source;
};

} // namespace

CSLoader* CSLoader::getInstance()
{
    if (s_loader == nullptr)
        s_loader = new CSLoader();
    return s_loader;
}

void CSLoader::destroyInstance()
{
    delete s_loader;
    s_loader = nullptr;
}

std::shared_ptr<const cocostudio::LayoutDocument> CSLoader::loadDocument(const std::string& filename)
{
    FileUtils* files = FileUtils::getInstance();
    const std::string fullPath = filename.empty() ? std::string() : files->fullPathForFilename(filename);
    if (fullPath.empty()) {
        log("CSLoader: cannot load %s: no such file", filename.c_str());
        return nullptr;
    }
    const auto cached = _documents.find(fullPath);
    if (cached != _documents.end())
        return cached->second;
    std::string error;
    auto document = cocostudio::LayoutDocument::parse(files->getStringFromFile(fullPath), filename, error);
    if (!document) {
        log("CSLoader: cannot load %s: %s", filename.c_str(), error.c_str());
        return nullptr;
    }
    _documents.emplace(fullPath, document);
    return document;
}

Node* CSLoader::createNode(const std::string& filename)
{
    auto document = getInstance()->loadDocument(filename);
    if (!document)
        return nullptr;
    Builder builder(filename);
    Node* root = builder.build(document->root());
    if (root == nullptr)
        log("CSLoader: cannot load %s: a node could not be created", filename.c_str());
    return root;
}

} // namespace cocos2d

namespace cocostudio {

void destroyCocosStudio() { cocos2d::CSLoader::destroyInstance(); }

} // namespace cocostudio
