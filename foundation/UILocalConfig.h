// UILocalConfig: persistent settings and translated texts for the objects it is mixed into.
//
// A mixin without data: every operation is static and does not depend on the object it is called
// through, so `getLocalString(...)` inside a screen and `UILocalConfig::getLocalString(...)`
// elsewhere are the same call.
//
// Settings live in the framework's UserDefault store with both key and value Base64-encoded:
// setting K to V stores the entry Base64(K) -> Base64(V). An absent setting reads as the caller's
// default; so does a stored value whose text equals the default; a stored value that does not
// decode reads as "".
//
// Texts come from the language table that the application configuration publishes with
// setLanguage; before that (or for an absent key) every lookup yields "".
//
// Threads: main thread. The UserDefault store itself is locked, but the published table is not.
#pragma once

#include <string>

namespace NSUI {

class NSLanguage;

class UILocalConfig {
public:
    // The translation of key in the current language, or "".
    static std::string getText(const std::string& key);
    static std::string getTextForKey(const std::string& key);

    static std::string getLocalString(const std::string& key, const std::string& defaultValue);
    // Stores the setting and flushes the store to disk. An empty key does nothing.
    static void setLocalString(const std::string& key, const std::string& value);
    // atoi of the stored text; the default when absent.
    static int getLocalInt(const std::string& key, int defaultValue);
    static void setLocalInt(const std::string& key, int value);
    // Whether the viewers show the full DICOM overlay: the setting "sdk_show_dcmFullInfo" is not "0".
    static bool isShowDcmFullInfo();

    // The language table the text lookups read (not owned); null unpublishes it.
    static void setLanguage(NSLanguage* language);
    static NSLanguage* getLanguage();
};

} // namespace NSUI
