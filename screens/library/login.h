// login: the account screens. One modal window over the running screen with five pages in one
// layout: log in, the account (log out, set e-mail, change password), change password, register
// and set e-mail. Every action is one POST to the account server (Base64 of a flat JSON body, the
// reply Base64 of a JSON object whose "Status" "0" means success); the replies come back to
// onHttpResponse by tag. The logged-in state lives in the settings, which other parts read through
// the static operations (the HTTP centre's re-login check, peer discovery, the patient list).
//
// The verification code of registering and setting the e-mail is compared here: those requests
// are only sent when the typed code equals the one the server sent.
//
// Main thread only.
#pragma once

#include "UIControlBase.h"
#include "UIControlGenerater.h"
#include "UIHttpPhisical.h"
#include "UIJson.h"
#include "UILocalConfig.h"
#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <cstdint>
#include <string>

namespace NSUI {
class NSTextField;
class UIHttpResponse;
}

class login : public cocos2d::Node,
              public NSUI::UIControlGenerater,
              public NSUI::UILocalConfig,
              public NSUI::UIControlBase,
              public NSUI::UIJson,
              public NSUI::UIHttpPhisical {
public:
    enum loginPage { PAGE_LOGIN = 0, PAGE_ACCOUNT = 1, PAGE_CHANGE_PASSWORD = 2, PAGE_REGISTER = 3, PAGE_SET_MAIL = 4 };

    static constexpr const char* kLayoutFile = "login.csb";
    static constexpr const char* kLayerName = "login_view";
    static constexpr const char* kLoginedKey = "app_logined";
    static constexpr const char* kLoginIdKey = "app_login_id";
    static constexpr const char* kNicknameKey = "app_login_nickname";
    static constexpr const char* kLoginStringKey = "app_login_string";
    static constexpr const char* kLoginTimeKey = "app_login_time";
    static constexpr const char* kLoginTimestampKey = "app_login_timestamp";
    // The user string that marks the widgets a page adds (removed by the next page).
    static constexpr const char* kPageItem = "loginPageItem";

    // Opens the screen over parent and returns its layer.
    static login* show(cocos2d::Node* parent);
    // Ends the login: 2034 with -1, "app_logined" = "0".
    static void logout();
    static void getLoginState(std::string& logined, std::string& userId);
    static uint32_t loginTimestamp();

    CREATE_FUNC(login);
    bool init() override;
    void cleanup() override;
    bool onResponseReturn() override;
    void close();

    void hookButtons();
    void onButton(cocos2d::Ref* sender);
    void onHttpResponse(NSUI::UIHttpResponse* response) override;
    void showFirstPage();
    void showPage(int page);

    int getPage() const { return page; }
    cocos2d::ui::Widget* getLayoutRoot() const { return root; }
    // The page's field of that name ("email", "password", ...), or null.
    NSUI::NSTextField* getField(const std::string& name) const;
    const std::string& getExpectedCode() const { return expectedCode; }

protected:
    void requestCode(const std::string& path, const std::string& tag);
    void requestLogin();
    void requestChange();
    void requestRegister();
    void requestSetMail();
    void post(const std::string& path, const std::string& json, const std::string& tag, bool busy);
    void openPrivacyPage();
    void toastKey(const std::string& key);
    std::string fieldText(const std::string& name, bool trimmed = true) const;

    NSUI::NSTextField* addField(int row, const std::string& name, const std::string& placeholder, bool masked);
    cocos2d::ui::Button* addButton(const std::string& name, const std::string& titleKey, const cocos2d::Vec2& position);
    void addNicknameLabel();
    void clearPageItems();

    cocos2d::ui::Widget* root = nullptr;
    int page = PAGE_LOGIN;
    std::string expectedCode;
};
