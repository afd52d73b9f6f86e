#include "NSLanguage.h"

#include "NSDictionary.h"

#include "cocos2d.h"

// The text and button widgets of the framework; a build of the framework without its widget
// module translates only through the node translator.
#if __has_include("ui/UIText.h") && __has_include("ui/UIButton.h")
#include "ui/UIButton.h"
#include "ui/UIText.h"
#define QV_HAVE_UI_WIDGETS 1
#endif

USING_NS_CC;

namespace NSUI {

namespace {

constexpr const char* kFallbackLanguage = "english";

// Indexed by the framework's LanguageType value.
constexpr const char* kLanguageNames[] = {
    "english", "chinese", "french", "italian", "german", "spanish", "dutch", "russian", "korean", "japanese",
    "hungarian", "portuguese", "arabic", "norwegian", "polish", "turkish", "ukrainian", "romanian", "bulgarian",
};

NSLanguage::NodeTranslator& nodeTranslator()
{
    static NSLanguage::NodeTranslator translator;
    return translator;
}

void translateNode(Node* node, const std::string& text)
{
#ifdef QV_HAVE_UI_WIDGETS
    if (auto* label = dynamic_cast<ui::Text*>(node)) {
        label->setString(text);
        return;
    }
    if (auto* button = dynamic_cast<ui::Button*>(node)) {
        button->setTitleText(text);
        return;
    }
#endif
    if (nodeTranslator())
        nodeTranslator()(node, text);
}

} // namespace

NSLanguage::NSLanguage() = default;

NSLanguage::~NSLanguage()
{
    if (all_)
        all_->release();
}

const char* NSLanguage::languageName(int languageType)
{
    constexpr int count = static_cast<int>(sizeof kLanguageNames / sizeof kLanguageNames[0]);
    if (languageType < 0 || languageType >= count)
        return kFallbackLanguage;
    return kLanguageNames[languageType];
}

void NSLanguage::load()
{
    if (all_)
        return;
    FileUtils* files = FileUtils::getInstance();
    const std::string fullPath = files->fullPathForFilename(fileName_);
    std::string text = fullPath.empty() ? std::string() : files->getStringFromFile(fullPath);
    if (text.empty())
        return;

    // A Base64 file decodes; a plain property list does not (the decoder refuses its '<').
    unsigned char* decoded = nullptr;
    const int length =
        safeBase64Decode(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()), &decoded);
    if (length > 0 && decoded)
        text = reinterpret_cast<const char*>(decoded);
    safeBase64Free(decoded);
    if (text.empty())
        return;

    NSDictionary* table = NSDictionary::createWithData(text);
    if (!table) {
        log("Failed to load config file of language.");
        return;
    }
    all_ = table;
    all_->retain();

    // Without an application object (tools, some tests) the language is the default one.
    Application* application = Application::getInstance();
    const int language = application ? static_cast<int>(application->getCurrentLanguage()) : 0;
    current_ = dynamic_cast<NSDictionary*>(all_->objectForKey(languageName(language)));
    if (!current_)
        current_ = dynamic_cast<NSDictionary*>(all_->objectForKey(kFallbackLanguage));
}

std::string NSLanguage::getString(const std::string& key) const
{
    if (!current_ || key.empty())
        return std::string();
    auto* text = dynamic_cast<__String*>(current_->objectForKey(key));
    return text ? text->_string : std::string();
}

void NSLanguage::applyToWidget(Node* root, const std::string& prefix)
{
    if (!root)
        return;
    // A copy holds a reference to every child, so a translation that changes the tree cannot
    // free a child under us.
    const Vector<Node*> children = root->getChildren();
    for (Node* child : children) {
        const std::string text = getString(prefix + child->getName());
        if (!text.empty())
            translateNode(child, text);
        if (child->getChildrenCount() > 0)
            applyToWidget(child, prefix);
    }
}

void NSLanguage::setNodeTranslator(NodeTranslator translator)
{
    nodeTranslator() = std::move(translator);
}

} // namespace NSUI
