// AppConfig: the application-wide configuration object.
//
// Holds the window and frame sizes, the language table, a small style record, the version, the
// installation identifier and the language at start, and does the first-run bookkeeping in the
// settings store. Screens reach it through getInstance, mostly to translate texts (getText for
// one key, setText for a loaded layout).
//
// Ownership: getInstance creates the object on first use and only autoreleases it; the
// application delegate, which makes the first call, retains it and releases it at shutdown. The
// static operations (getFrameSize, setWinSize) work on that shared instance. Main thread only.
#pragma once

#include <array>
#include <string>

#include "cocos2d.h"

#include "NSLanguage.h"

class AppConfig : public cocos2d::Ref {
public:
    // The style record; filled by init and read by no component so far.
    struct Style {
        std::array<int, 8> sizes{};
        std::array<cocos2d::Color3B, 7> colors{};
        std::string fontName = "DFPGB_H3.TTF";
        std::string fontNameLower = "DFPGB_H3.ttf";
    };

    static AppConfig* getInstance();

    AppConfig();
    ~AppConfig() override;

    // Fills the style record and runs the first-run bookkeeping. Always true.
    virtual bool init();

    static std::string getVersion();
    std::string getServerBase() const;

    // Loads "language.dat" and publishes it for UILocalConfig and NSDataManager text lookups.
    void loadLanguage();
    // The translation of key in the current language, or "".
    std::string getText(const std::string& key) const;
    // Translates the children of root with the keys prefix + child name.
    void setText(cocos2d::Node* root, const std::string& prefix);

    static cocos2d::Size& getFrameSize();
    static void setWinSize(const cocos2d::Size& size);
    const cocos2d::Size& getWinSize() const { return winSize_; }

    // The installation identifier: made once per installation and kept in the settings store.
    const std::string& getAppIdentifier() const { return identifier_; }
    int getCurrentLanguage() const { return currentLanguage_; }
    const Style& getStyle() const { return style_; }

    // The identifier text for a seed: the folded 32-bit FNV-1a hash of its bytes, in decimal.
    static std::string makeIdentifier(const std::string& seed);

    // Read by the screens to choose between two sizes of a control; nothing sets it.
    bool largeLayout = false;

private:
    void firstRunBookkeeping();

    cocos2d::Size winSize_{960, 640};
    cocos2d::Size frameSize_{960, 640};
    NSUI::NSLanguage language_;
    Style style_;
    std::string identifier_;
    int currentLanguage_ = 0;
};
