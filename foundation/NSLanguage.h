// NSLanguage: the language table "language.dat" and text lookups in the user's language.
//
// The file is the Base64 text of a property list whose root dictionary maps a language name
// ("english", "chinese", ... the 19 names in NSLanguage.cpp) to a dictionary of text key ->
// translated text. A plain (not encoded) property list is read as it is. The language is the
// framework's current language (from the locale) at load time; when the table lacks it, "english"
// is used; a missing key yields "".
//
// The one instance is a member of AppConfig, which loads it during start-up and publishes it for
// UILocalConfig and NSDataManager. Main thread only.
#pragma once

#include <functional>
#include <string>

namespace cocos2d {
class Node;
}

namespace NSUI {

class NSDictionary;

class NSLanguage {
public:
    // Translates a node that is neither a ui::Text nor a ui::Button (the toolkit's text field,
    // whose placeholder takes the text); returns whether it handled the node. The widget layer
    // installs it, since it sits above this one.
    using NodeTranslator = std::function<bool(cocos2d::Node* node, const std::string& text)>;

    NSLanguage();
    virtual ~NSLanguage();

    NSLanguage(const NSLanguage&) = delete;
    NSLanguage& operator=(const NSLanguage&) = delete;

    void setFileName(const std::string& fileName) { fileName_ = fileName; }
    const std::string& getFileName() const { return fileName_; }

    // Loads the table once (does nothing when it is already loaded). A missing or empty file
    // leaves no language selected, silently; a file that is not a property list logs
    // "Failed to load config file of language.".
    void load();
    bool isLoaded() const { return all_ != nullptr; }

    // The translation of key in the selected language, or "".
    std::string getString(const std::string& key) const;

    // Translates the children of root, recursively (root itself is not translated): a child
    // named N takes the translation of prefix + N when that is not empty, as the text of a
    // ui::Text, the title of a ui::Button, or through the installed node translator.
    void applyToWidget(cocos2d::Node* root, const std::string& prefix);

    static void setNodeTranslator(NodeTranslator translator);

    // The table's name of a framework language value (0 "english" ... 18 "bulgarian"); any other
    // value gives "english".
    static const char* languageName(int languageType);

private:
    std::string fileName_ = "language.dat";
    NSDictionary* current_ = nullptr;   // borrowed from all_
    NSDictionary* all_ = nullptr;       // retained while loaded
};

} // namespace NSUI
