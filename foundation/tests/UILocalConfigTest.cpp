// Settings in the user-defaults store and the language table: what is stored, what survives a
// restart, and how texts fall back.
#include <gtest/gtest.h>

#include <cstdlib>

#include "NSDataManager.h"
#include "NSFileTestSupport.h"
#include "NSLanguage.h"
#include "UILocalConfig.h"
#include "qvBuildPaths.h"

USING_NS_CC;
using NSUI::NSLanguage;
using NSUI::UILocalConfig;

namespace {

// The application object the language lookup asks for the current language.
class LocaleApplication : public Application {
public:
    bool applicationDidFinishLaunching() override { return true; }
    void applicationDidEnterBackground() override {}
    void applicationWillEnterForeground() override {}
};

class SettingsTest : public qvtest::SettingsStoreTest {
protected:
    LocaleApplication application_;

    void TearDown() override
    {
        UILocalConfig::setLanguage(nullptr);
        qvtest::SettingsStoreTest::TearDown();
    }
};

// Sets LC_ALL for the scope of a test.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* value)
    {
        if (const char* old = std::getenv("LC_ALL"))
            old_ = old, hadOld_ = true;
        setenv("LC_ALL", value, 1);
    }
    ~ScopedLocale()
    {
        if (hadOld_)
            setenv("LC_ALL", old_.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

const char* kTable = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>english</key><dict>
    <key>appName</key><string>Quorvane</string>
    <key>hello</key><string>Hello</string>
    <key>login_title</key><string>Sign in</string>
  </dict>
  <key>chinese</key><dict>
    <key>appName</key><string>Quorvane 中文</string>
    <key>hello</key><string>你好</string>
  </dict>
  <key>french</key><string>not a dictionary</string>
</dict></plist>)";

// Loads the test table, Base64-encoded as shipped, for the given locale.
void loadTestTable(NSLanguage& language, const std::string& path)
{
    qvtest::writeFile(path, safeBase64EncodeString(kTable));
    language.setFileName(path);
    language.load();
}

} // namespace

TEST_F(SettingsTest, StoredBase64AndReadBack)
{
    UILocalConfig::setLocalString("a", "x");
    // Key and value are both stored as standard Base64.
    EXPECT_EQ(UserDefault::getInstance()->getStringForKey("YQ==", ""), "eA==");
    EXPECT_EQ(UILocalConfig::getLocalString("a", "d"), "x");
    EXPECT_EQ(UILocalConfig::getLocalString("b", "d"), "d");
    EXPECT_EQ(UILocalConfig::getLocalString("", "d"), "d");

    // A stored value whose text equals the default reads as the default.
    UserDefault::getInstance()->setStringForKey("Yw==", "not base64!");
    EXPECT_EQ(UILocalConfig::getLocalString("c", "not base64!"), "not base64!");
    // A stored value that does not decode reads as "".
    EXPECT_EQ(UILocalConfig::getLocalString("c", "other"), "");

    UILocalConfig::setLocalString("empty", "");
    EXPECT_EQ(UserDefault::getInstance()->getStringForKey(safeBase64EncodeString("empty").c_str(), "unset"), "");
    EXPECT_EQ(UILocalConfig::getLocalString("empty", "d"), "");

    UILocalConfig::setLocalString("", "ignored");
    UILocalConfig::setLocalInt("n", -42);
    EXPECT_EQ(UILocalConfig::getLocalInt("n", 7), -42);
    EXPECT_EQ(UILocalConfig::getLocalInt("none", 7), 7);

    EXPECT_FALSE(UILocalConfig::isShowDcmFullInfo());
    UILocalConfig::setLocalString("sdk_show_dcmFullInfo", "1");
    EXPECT_TRUE(UILocalConfig::isShowDcmFullInfo());

    // Texts that Base64 itself uses, and bytes of every kind, round-trip.
    const std::string awkward = "+/=\t\n\xC3\xA9 \"quoted\"";
    UILocalConfig::setLocalString(awkward, awkward);
    EXPECT_EQ(UILocalConfig::getLocalString(awkward, ""), awkward);
}

TEST_F(SettingsTest, SettingsSurviveARestart)
{
    UILocalConfig::setLocalString("dicomServerIP", "127.0.0.1");
    UILocalConfig::setLocalInt("dicomServerPort", 4587);
    // Stored in memory only: gone unless something flushes the store.
    NSUI::NSDataManager::setLocalString("unflushed", "v");
    restart();
    EXPECT_EQ(UILocalConfig::getLocalString("dicomServerIP", ""), "127.0.0.1");
    EXPECT_EQ(UILocalConfig::getLocalInt("dicomServerPort", 0), 4587);
    EXPECT_EQ(UILocalConfig::getLocalString("unflushed", "absent"), "absent");

    NSUI::NSDataManager::setLocalString("later", "w");
    UILocalConfig::setLocalString("other", "flushes everything");
    restart();
    EXPECT_EQ(UILocalConfig::getLocalString("later", ""), "w");
}

TEST_F(SettingsTest, LanguageFallbackAndMissingKeys)
{
    const std::string plain = dir_ / "plain.plist";
    qvtest::writeFile(plain, kTable);
    const std::string encoded = dir_ / "language.dat";
    qvtest::writeFile(encoded, safeBase64EncodeString(kTable));

    // Nothing published yet: every lookup is empty.
    EXPECT_EQ(UILocalConfig::getText("hello"), "");

    {
        ScopedLocale locale("ja_JP.UTF-8");   // no "japanese" in the table
        NSLanguage language;
        language.setFileName(encoded);
        language.load();
        ASSERT_TRUE(language.isLoaded());
        EXPECT_EQ(language.getString("hello"), "Hello");
        EXPECT_EQ(language.getString("missing"), "");
        EXPECT_EQ(language.getString(""), "");

        UILocalConfig::setLanguage(&language);
        EXPECT_EQ(UILocalConfig::getText("hello") + "/" + UILocalConfig::getTextForKey("appName"), "Hello/Quorvane");
        UILocalConfig::setLanguage(nullptr);
    }
    {
        ScopedLocale locale("zh_CN.UTF-8");
        NSLanguage language;
        language.setFileName(plain);   // a plain property list is read as it is
        language.load();
        EXPECT_EQ(language.getString("hello"), "你好");
        EXPECT_EQ(language.getString("login_title"), "");   // no fallback per key
    }
    {
        ScopedLocale locale("fr_FR.UTF-8");   // "french" is there but not a dictionary
        NSLanguage language;
        language.setFileName(encoded);
        language.load();
        EXPECT_EQ(language.getString("hello"), "Hello");
    }
}

TEST_F(SettingsTest, MissingOrBrokenLanguageTable)
{
    qvtest::LogCapture log;
    NSLanguage missing;
    missing.setFileName(dir_ / "nothing.dat");
    missing.load();
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_EQ(missing.getString("appName"), "");

    qvtest::writeFile(dir_ / "broken.dat", "<plist><dict><key>english</key>");
    NSLanguage broken;
    broken.setFileName(dir_ / "broken.dat");
    broken.load();
    EXPECT_FALSE(broken.isLoaded());
    EXPECT_EQ(broken.getString("appName"), "");
    EXPECT_EQ(log.count("Failed to load config file of language."), 1);

    // A table without "english" or the current language selects nothing.
    qvtest::writeFile(dir_ / "other.dat", "<plist><dict><key>german</key><dict><key>a</key><string>b</string></dict></dict></plist>");
    ScopedLocale locale("C");
    NSLanguage other;
    other.setFileName(dir_ / "other.dat");
    other.load();
    EXPECT_TRUE(other.isLoaded());
    EXPECT_EQ(other.getString("a"), "");
}

TEST_F(SettingsTest, ShippedLanguageTable)
{
    const std::string shipped = std::string(QV_RESOURCE_DIR) + "/language.dat";
    // The shipped file is exactly the Base64 text of its readable source.
    const std::string source = qvtest::readFile(std::string(QV_SOURCE_DIR) + "/tools/language/language.plist");
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(qvtest::readFile(shipped), safeBase64EncodeString(source));

    for (const char* locale : {"en_US.UTF-8", "zh_CN.UTF-8"}) {
        ScopedLocale scoped(locale);
        NSLanguage language;
        language.setFileName(shipped);
        language.load();
        EXPECT_FALSE(language.getString("appName").empty()) << locale;
        EXPECT_FALSE(language.getString("cancelButton").empty()) << locale;
    }
}

TEST_F(SettingsTest, LayoutTextsAreTranslatedByChildName)
{
    ScopedLocale locale("en_GB.UTF-8");
    NSLanguage language;
    loadTestTable(language, dir_ / "table.dat");

    // Nodes the language table does not know how to translate go to the installed translator
    // (the widget layer's text field installs one).
    std::vector<std::pair<std::string, std::string>> translated;
    NSLanguage::setNodeTranslator([&](Node* node, const std::string& text) {
        translated.emplace_back(node->getName(), text);
        return true;
    });
    Node* root = Node::create();
    root->setName("title");   // the root itself is not translated
    Node* title = Node::create();
    title->setName("title");
    Node* panel = Node::create();
    panel->setName("panel");
    Node* nested = Node::create();
    nested->setName("title");
    Node* untranslated = Node::create();
    untranslated->setName("subtitle");
    root->addChild(title);
    root->addChild(panel);
    panel->addChild(nested);
    panel->addChild(untranslated);

    language.applyToWidget(root, "login_");
    EXPECT_EQ(translated, (std::vector<std::pair<std::string, std::string>>{{"title", "Sign in"}, {"title", "Sign in"}}));

    translated.clear();
    language.applyToWidget(root, "");   // no key "title" or "panel" without the prefix
    EXPECT_TRUE(translated.empty());
    NSLanguage::setNodeTranslator(nullptr);
}

#if __has_include("ui/UIText.h") && __has_include("ui/UIButton.h")
TEST_F(SettingsTest, TextsAndButtonsTakeTheirTranslation)
{
    ScopedLocale locale("en_GB.UTF-8");
    NSLanguage language;
    loadTestTable(language, dir_ / "table.dat");

    Node* root = Node::create();
    auto* text = ui::Text::create("layout text", "", 20);
    text->setName("title");
    auto* button = ui::Button::create();
    button->setName("hello");
    auto* keep = ui::Text::create("kept", "", 20);
    keep->setName("unknown");
    root->addChild(text);
    root->addChild(button);
    root->addChild(keep);
    language.applyToWidget(root, "login_");
    EXPECT_EQ(text->getString(), "Sign in");
    EXPECT_EQ(keep->getString(), "kept");
    language.applyToWidget(root, "");
    EXPECT_EQ(button->getTitleText(), "Hello");
}
#endif
