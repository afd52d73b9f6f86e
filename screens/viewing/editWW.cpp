#include "editWW.h"

#include "AppConfig.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSResponseWindow.h"
#include "NSStringUtil.h"
#include "NSTextField.h"
#include "cocostudio/CSLoader.h"
#include "ui/CocosGUI.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

USING_NS_CC;

namespace {

const Color3B kTextColour(22, 22, 22);

// The four fields: the label they stand beside, their name and their placeholder key.
struct FieldSpec {
    const char* label;
    const char* name;
    const char* prompt;
};
const FieldSpec kFields[] = {{"editWW_window", "editWW", "editWWPrompt"},
                             {"editWW_level", "editWL", "editWLPrompt"},
                             {"editWW_min", "editMin", "editMinPrompt"},
                             {"editWW_max", "editMax", "editMaxPrompt"}};

std::string fieldText(NSUI::NSTextField* field)
{
    return field ? field->getString() : std::string();
}

// The value of a field as the dialog reads it: an empty text is 0.
float valueOf(NSUI::NSTextField* field)
{
    return float(std::atof(fieldText(field).c_str()));
}

// True when the text is empty or one whole finite decimal number ("-12.5", "40", "3."); the
// field's input filter lets through incomplete texts such as "-" or "-." and, with the cursor
// moved, ".-5", which are not numbers.
bool isNumberText(const std::string& text)
{
    if (text.empty())
        return true;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    return end != begin && *end == '\0' && errno == 0 && std::isfinite(value) &&
           text.find_first_not_of("-.0123456789") == std::string::npos;
}

} // namespace

NSUI::NSResponseWindow* editWW::createPanel()
{
    auto* dialog = editWW::create();
    if (dialog) {
        dialog->enableAndroidReturnKey(true);
        dialog->buildFields();
    }
    NSUI::NSResponseWindow* window = NSUI::NSResponseWindow::createFor(dialog, dialog ? dialog->layout : nullptr);
    if (window && dialog)
        window->updateChildrenToHighZOrder();
    return window;
}

editWW* editWW::fromPanel(Node* panel)
{
    if (!panel)
        return nullptr;
    if (auto* self = dynamic_cast<editWW*>(panel))
        return self;
    return dynamic_cast<editWW*>(panel->getChildByName(kNodeName));
}

bool editWW::init()
{
    if (!Node::init())
        return false;
    setOwnerNode(this);
    setName(kNodeName);
    layout = CSLoader::createNode(kLayoutFile);
    if (layout) {
        layout->setName(kLayoutFile);
        addChild(layout);
    }
    return true;
}

void editWW::cleanup()
{
    Node::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
}

void editWW::buildFields()
{
    if (!layout || fieldWW)
        return;
    AppConfig::getInstance()->setText(layout, "");
    if (auto* widget = dynamic_cast<ui::Widget*>(layout))
        ui::Helper::doLayout(widget);
    for (const FieldSpec& spec : kFields) {
        Node* label = layout->getChildByNameDeep(spec.label);
        if (!label)
            continue;
        const float height = float(kFontSize + 4);
        auto* field = NSUI::NSTextField::create(getText(spec.prompt), Size(300.0f, height));
        if (!field)
            continue;
        field->setFontSize(kFontSize);
        field->setPlaceHolderFontSize(kFontSize);
        field->setTextColor(kTextColour);
        field->setAnchorPoint(Vec2(0.0f, 0.5f));
        field->setPosition(Vec2(label->getPositionX() + 22.0f, label->getPositionY() - 3.0f));
        field->touchRect = Rect(0.0f, (height - 60.0f) / 2, 500.0f, 60.0f);
        field->setMaxLengthEnabled(true);
        field->setMaxLength(kMaxLength);
        field->setInputMode(NSUI::NSTextField::InputMode::SIGNED_DECIMAL);
        field->setName(spec.name);
        field->addEventListener([this](Ref* sender, NSUI::NSTextField::EventType) { onFieldEvent(sender); });
        label->getParent()->addChild(field, label->getLocalZOrder() + 1);
        field->enableBackground();
        const std::string name = spec.name;
        (name == "editWW" ? fieldWW : name == "editWL" ? fieldWL : name == "editMin" ? fieldMin : fieldMax) = field;
    }
    if (auto* back = dynamic_cast<ui::Button*>(layout->getChildByNameDeep("btn_back"))) {
        back->setTag(1001);
        back->setPressedActionEnabled(true);
        back->addClickEventListener([this](Ref* sender) { onBack(sender); });
    }
}

NSUI::NSTextField* editWW::getField(const std::string& name) const
{
    if (name == "editWW")
        return fieldWW;
    if (name == "editWL")
        return fieldWL;
    if (name == "editMin")
        return fieldMin;
    if (name == "editMax")
        return fieldMax;
    return nullptr;
}

void editWW::setWindow(float ww, float wl)
{
    if (fieldWW)
        fieldWW->setString(formatString("%.0f", ww));
    if (fieldWL)
        fieldWL->setString(formatString("%.0f", wl));
    if (fieldMin)
        fieldMin->setString(formatString("%.0f", wl - ww * 0.5f));
    if (fieldMax)
        fieldMax->setString(formatString("%.0f", wl + ww * 0.5f));
}

void editWW::onFieldEvent(Ref* sender)
{
    const float width = valueOf(fieldWW);
    const float level = valueOf(fieldWL);
    const float low = valueOf(fieldMin);
    const float high = valueOf(fieldMax);
    if (sender == fieldWW || sender == fieldWL) {
        if (width > 0 && fieldMin && fieldMax) {
            fieldMin->setString(formatString("%.4f", level - width / 2));
            fieldMax->setString(formatString("%.4f", level + width / 2));
        }
    } else if (sender == fieldMin || sender == fieldMax) {
        if (high > low && fieldWW && fieldWL) {
            fieldWW->setString(formatString("%.4f", high - low));
            fieldWL->setString(formatString("%.4f", low + (high - low) / 2));
        }
    }
}

void editWW::toast(const std::string& key)
{
    lastMessage = getText(key);
    showMessage(lastMessage, kToastSeconds);
}

bool editWW::applyWindowLevel()
{
    // A width or level that is not a number would be read as a prefix of it (atof), so "-" would
    // become 0 and ".-5" a level of 0: refused like a width that is not above 0.
    if (!isNumberText(fieldText(fieldWW)) || !isNumberText(fieldText(fieldWL))) {
        toast("editWWError");
        return false;
    }
    if (!isNumberText(fieldText(fieldMin)) || !isNumberText(fieldText(fieldMax))) {
        toast("editMinMaxError");
        return false;
    }
    const float width = valueOf(fieldWW);
    const float level = valueOf(fieldWL);
    const float low = valueOf(fieldMin);
    const float high = valueOf(fieldMax);
    if (!(width > 0)) {
        toast("editWWError");
        return false;
    }
    if (low > high) {
        toast("editMinMaxError");
        return false;
    }
    std::string json;
    setFloat(json, "ww", width);
    setFloat(json, "wl", level);
    NSUI::NSNotificationCenter::getInstance()->postStringNotification(panelNode(), NOTIFY_WL_EDITED, json, nullptr,
                                                                      false);
    return true;
}

Node* editWW::panelNode()
{
    Node* parent = getParent();
    return dynamic_cast<NSUI::NSResponseWindow*>(parent) ? parent : this;
}

bool editWW::onResponseReturn()
{
    if (applyWindowLevel()) {
        retain();
        panelNode()->removeFromParent();
        release();
    }
    return true;
}

void editWW::onBack(Ref* sender)
{
    if (auto* button = dynamic_cast<Node*>(sender); button && button->getName() == "btn_back")
        onResponseReturn();
}
