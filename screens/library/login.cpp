#include "login.h"

#include "AppConfig.h"
#include "NSActivity.h"
#include "NSHttpClient.h"
#include "NSNotificationCenter.h"
#include "NSNotificationNumbers.h"
#include "NSResponseWindow.h"
#include "NSStringUtil.h"
#include "NSTextField.h"
#include "NSTimeUtil.h"
#include "NSWebView.h"
#include "UIHttpResponse.h"
#include "base/base64.h"
#include "cocostudio/CSLoader.h"
#include "messageView.h"

#include <ctime>

USING_NS_CC;

namespace {

// Server paths and reply tags of the account requests.
const char* const kCodePath = "/lg/sdvr.php";
const char* const kMailPath = "/lg/sd.php";
const char* const kLoginPath = "/lg/lg.php";
const char* const kChangePath = "/lg/cg.php";
const char* const kRegisterPath = "/lg/rg.php";
const char* const kSetMailPath = "/lg/sm.php";
const char* const kPrivacyPath = "/en/privacypolicy.html";

const char* const kNameCharsMessage = "The character in name must be A~Z or a~z or 0~9 or '.-_'";
const char* const kPasswordCharsMessage = "The character in password must be A~Z or a~z or 0~9 or '.-_'";
const char* const kPrivacyTitle = "View the Privacy Policy here";
constexpr float kToastSeconds = 1.5f;

uint32_t g_loginTimestamp = 0;

bool tagShowsBusy(const std::string& tag)
{
    return tag == "login" || tag == "change" || tag == "register" || tag == "setMail";
}

} // namespace

// ---- the login state ----------------------------------------------------------------------------

void login::logout()
{
    NSUI::NSNotificationCenter::getInstance()->postIntNotification(nullptr, NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED, -1);
    setLocalString(kLoginedKey, "0");
}

void login::getLoginState(std::string& logined, std::string& userId)
{
    logined = getLocalString(kLoginedKey, "0");
    userId = getLocalString(kLoginIdKey, "0");
}

uint32_t login::loginTimestamp()
{
    if (g_loginTimestamp > 1)
        return g_loginTimestamp;
    const std::string stored = getLocalString(kLoginTimestampKey, "");
    g_loginTimestamp = stored.empty() ? static_cast<uint32_t>(std::time(nullptr))
                                      : static_cast<uint32_t>(std::strtoul(stored.c_str(), nullptr, 10));
    return g_loginTimestamp;
}

// ---- creation -----------------------------------------------------------------------------------

login* login::show(Node* parent)
{
    NSUI::NSResponseWindow* window = NSUI::NSResponseWindow::create();
    login* layer = login::create();
    if (!window || !layer)
        return nullptr;
    layer->enableAndroidReturnKey(true);
    layer->hookButtons();
    // The screen beneath is dimmed while the account window is open.
    window->addChild(LayerColor::create(Color4B(0, 0, 0, 150)));
    window->addChild(layer);
    const Size win = Director::getInstance()->getWinSize();
    if (layer->root) {
        layer->root->setAnchorPoint(Vec2(0.5f, 1.0f));
        layer->root->setPosition(Vec2(win.width * 0.5f, win.height));
    }
    window->setAnchorPoint(Vec2::ZERO);
    window->setPosition(Vec2::ZERO);
    layer->showFirstPage();
    if (parent)
        parent->addChild(window);
    return layer;
}

bool login::init()
{
    if (!Node::init())
        return false;
    setOwnerNode(this);
    setRequestTarget(this);
    expectedCode = getCurrentDateTime();
    setName(kLayerName);
    root = dynamic_cast<ui::Widget*>(CSLoader::createNode(kLayoutFile));
    if (!root)
        return true;
    ui::Helper::doLayout(root);
    AppConfig::getInstance()->setText(root, "login.");
    addChild(root);
    return true;
}

void login::cleanup()
{
    Node::cleanup();
    if (auto* centre = NSUI::NSNotificationCenter::peekInstance())
        centre->removeObserver(this);
    NSUI::NSHttpClient::getInstance()->cancelRequestsForTarget(this);
    setRequestTarget(nullptr);
    NSUI::NSActivity::dismiss();
}

bool login::onResponseReturn()
{
    if (page == PAGE_LOGIN || page == PAGE_ACCOUNT)
        close();
    else
        showPage(std::atoi(getLocalString(kLoginedKey, "0").c_str()) != 0 ? PAGE_ACCOUNT : PAGE_LOGIN);
    return true;
}

void login::close()
{
    if (auto* window = dynamic_cast<NSUI::NSResponseWindow*>(getParent()))
        window->removeFromParent();
    else
        removeFromParent();
}

void login::hookButtons()
{
    for (const char* name : {"goBack", "change", "send", "login"}) {
        if (auto* button = dynamic_cast<ui::Button*>(root ? root->getChildByName(name) : nullptr)) {
            button->setPressedActionEnabled(true);
            button->addClickEventListener([this](Ref* sender) { onButton(sender); });
        }
    }
}

void login::toastKey(const std::string& key)
{
    showMessage(getText(key), kToastSeconds);
}

// ---- pages --------------------------------------------------------------------------------------

void login::showFirstPage()
{
    if (root) {
        if (auto* bk = dynamic_cast<Sprite*>(root->getChildByName("bk"))) {
            // The picture fills the height and repeats to the right, every second copy mirrored.
            const Size rootSize = root->getContentSize();
            const Size picture = bk->getContentSize();
            if (picture.width > 0 && picture.height > 0) {
                const float scale = rootSize.height / picture.height;
                bk->setScale(scale);
                bk->setAnchorPoint(Vec2(0, 1));
                bk->setPosition(Vec2(0, rootSize.height));
                const float step = picture.width * scale;
                float x = step;
                for (int i = 1; x < rootSize.width; ++i, x += step) {
                    Sprite* copy = Sprite::createWithTexture(bk->getTexture());
                    copy->setAnchorPoint(Vec2(0, 1));
                    copy->setScale(scale);
                    copy->setFlippedX(i % 2 == 1);
                    copy->setColor(bk->getColor());
                    copy->setPosition(Vec2(x, rootSize.height));
                    if (x + step > rootSize.width)
                        copy->setScaleX((rootSize.width - x) / picture.width);
                    root->addChild(copy, bk->getLocalZOrder());
                }
            }
        }
    }
    showPage(std::atoi(getLocalString(kLoginedKey, "0").c_str()) != 0 ? PAGE_ACCOUNT : PAGE_LOGIN);
}

void login::clearPageItems()
{
    if (!root)
        return;
    std::vector<Node*> items;
    for (Node* child : root->getChildren())
        if (child->getUserString() == kPageItem)
            items.push_back(child);
    for (Node* item : items)
        item->removeFromParent();
}

NSUI::NSTextField* login::getField(const std::string& name) const
{
    return dynamic_cast<NSUI::NSTextField*>(root ? root->getChildByName(name) : nullptr);
}

NSUI::NSTextField* login::addField(int row, const std::string& name, const std::string& placeholder, bool masked)
{
    auto* button = dynamic_cast<ui::Button*>(root->getChildByName("login"));
    if (!button)
        return nullptr;
    const Size buttonSize = button->getContentSize();
    const float rowHeight = buttonSize.height;
    const float left = button->getPositionX() - button->getAnchorPoint().x * buttonSize.width;
    const float bottom = button->getPositionY() - button->getAnchorPoint().y * buttonSize.height;
    const float y = bottom + (row + 1) * rowHeight + 10;

    Sprite* background = Sprite::create("UIRes/white.png");
    if (background) {
        background->setAnchorPoint(Vec2::ZERO);
        background->setPosition(Vec2(left, y));
        const Size picture = background->getContentSize();
        if (picture.width > 0 && picture.height > 0)
            background->setScale(buttonSize.width / picture.width, (rowHeight - 8) / picture.height);
        background->setUserString(kPageItem);
        root->addChild(background, 1);
    }
    const int fontSize = std::max(12, static_cast<int>(button->getTitleFontSize()) - 18);
    NSUI::NSTextField* field = NSUI::NSTextField::create(placeholder, Size(buttonSize.width - 40, rowHeight - 16));
    field->setName(name);
    field->setUserString(kPageItem);
    field->setAnchorPoint(Vec2::ZERO);
    field->setPosition(Vec2(left + 20, y + 4));
    field->setTextColor(Color3B::BLACK);
    field->setFontSize(fontSize);
    field->setPlaceHolderFontSize(fontSize);
    field->setPasswordEnabled(masked);
    field->touchRect = Rect(-20, -4, buttonSize.width, rowHeight - 8);
    root->addChild(field, 2);
    return field;
}

ui::Button* login::addButton(const std::string& name, const std::string& title, const Vec2& position)
{
    auto* reference = dynamic_cast<ui::Button*>(root->getChildByName("login"));
    ui::Button* button = ui::Button::create("UIRes/blueBtn.png", "UIRes/blueBtn.png");
    button->setScale9Enabled(true);
    button->setCapInsets(Rect(5, 5, 20, 20));
    button->setName(name);
    button->setUserString(kPageItem);
    button->setTitleText(title);
    button->setTitleColor(Color3B::WHITE);
    const float titleSize = reference ? reference->getTitleFontSize() * 0.6f : 16.0f;
    button->setTitleFontSize(titleSize);
    button->setContentSize(Size(std::max(120.0f, titleSize * title.size() * 0.6f + 30), titleSize * 2.2f));
    button->setPressedActionEnabled(true);
    button->setPosition(position);
    button->addClickEventListener([this](Ref* sender) { onButton(sender); });
    root->addChild(button, 3);
    return button;
}

void login::addNicknameLabel()
{
    const Size size = root->getContentSize();
    Label* label = Label::createWithSystemFont(getLocalString(kNicknameKey, ""), "", 30);
    label->setTextColor(Color4B::WHITE);
    label->setAnchorPoint(Vec2(0.5f, 1.0f));
    label->setPosition(Vec2(size.width * 0.5f, size.height - 13));
    label->setUserString(kPageItem);
    root->addChild(label, 3);
}

void login::showPage(int next)
{
    page = next;
    if (!root)
        return;
    clearPageItems();
    auto* loginButton = dynamic_cast<ui::Button*>(root->getChildByName("login"));
    auto* send = dynamic_cast<ui::Button*>(root->getChildByName("send"));
    auto* change = dynamic_cast<ui::Button*>(root->getChildByName("change"));
    // A page's own button stands above its fields.
    const int fieldRows = page == PAGE_REGISTER ? 4 : page == PAGE_CHANGE_PASSWORD ? 3 : page == PAGE_ACCOUNT ? 0 : 2;
    Vec2 extraAt;
    if (loginButton) {
        const Size s = loginButton->getContentSize();
        extraAt = Vec2(loginButton->getPositionX(), loginButton->getPositionY() -
                                                        loginButton->getAnchorPoint().y * s.height +
                                                        (fieldRows + 1.5f) * s.height + 24);
    }
    auto setTitle = [](ui::Button* button, const std::string& title) {
        if (button)
            button->setTitleText(title);
    };
    switch (page) {
    case PAGE_LOGIN: {
        addField(0, "password", "Password", true);
        if (NSUI::NSTextField* email = addField(1, "email", "Nickname or Email", false))
            email->setString(getLocalString(kLoginStringKey, ""));
        addButton("new", getText("login.new"), extraAt);
        if (send) {
            send->setVisible(true);
            setTitle(send, getText("login.send"));
        }
        setTitle(loginButton, getText("login.login"));
        break;
    }
    case PAGE_ACCOUNT:
        addNicknameLabel();
        addButton("setMail", getText("login_set_mail"), extraAt);
        if (send)
            send->setVisible(false);
        if (change)
            change->setVisible(true);
        setTitle(loginButton, getText("login.logout"));
        break;
    case PAGE_CHANGE_PASSWORD:
        addField(0, "password2", "Confirm Password", true);
        addField(1, "password1", "New Password", true);
        addField(2, "old", "Old password", true);
        addNicknameLabel();
        if (send)
            send->setVisible(false);
        if (change)
            change->setVisible(false);
        setTitle(loginButton, getText("login.change"));
        break;
    case PAGE_REGISTER:
        addField(0, "confirm", "Verify Code", false);
        addField(1, "email", "Optional, email to protect your password", false);
        addField(2, "password", "Password", true);
        addField(3, "name", "Nickname", false);
        addButton("getCode", getText("login.getCode"), extraAt);
        if (send) {
            send->setVisible(true);
            setTitle(send, kPrivacyTitle);
        }
        if (change)
            change->setVisible(false);
        setTitle(loginButton, getText("login.register"));
        break;
    case PAGE_SET_MAIL:
        addField(0, "confirm", "Verify Code", false);
        addField(1, "email", "Email to protect your password", false);
        addNicknameLabel();
        addButton("getCode", getText("login.getCode"), extraAt);
        if (send)
            send->setVisible(false);
        if (change)
            change->setVisible(false);
        setTitle(loginButton, getText("login_setmail_btn"));
        break;
    default:
        break;
    }
}

// ---- buttons and requests -----------------------------------------------------------------------

std::string login::fieldText(const std::string& name, bool trimmed) const
{
    NSUI::NSTextField* field = getField(name);
    std::string text = field ? field->getString() : std::string();
    if (trimmed)
        trim(text);
    return text;
}

void login::onButton(Ref* sender)
{
    auto* button = dynamic_cast<ui::Button*>(sender);
    if (!button)
        return;
    const std::string& name = button->getName();
    if (name == "getCode") {
        if (page == PAGE_REGISTER || page == PAGE_SET_MAIL)
            requestCode(kCodePath, "getCode");
    } else if (name == "goBack") {
        onResponseReturn();
    } else if (name == "setMail") {
        if (page == PAGE_ACCOUNT)
            showPage(PAGE_SET_MAIL);
    } else if (name == "new") {
        if (page == PAGE_LOGIN)
            showPage(PAGE_REGISTER);
    } else if (name == "change") {
        if (page == PAGE_ACCOUNT)
            showPage(PAGE_CHANGE_PASSWORD);
    } else if (name == "login") {
        switch (page) {
        case PAGE_LOGIN: requestLogin(); break;
        case PAGE_ACCOUNT:
            NSUI::NSNotificationCenter::getInstance()->postIntNotification(
                this, NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED, -1);
            setLocalString(kLoginedKey, "0");
            close();
            break;
        case PAGE_CHANGE_PASSWORD: requestChange(); break;
        case PAGE_REGISTER: requestRegister(); break;
        case PAGE_SET_MAIL: requestSetMail(); break;
        default: break;
        }
    } else if (name == "send") {
        if (page == PAGE_REGISTER)
            openPrivacyPage();
        else
            requestCode(kMailPath, "send");
    }
}

void login::post(const std::string& path, const std::string& json, const std::string& tag, bool busy)
{
    if (busy)
        NSUI::NSActivity::show(this);
    httpPost(AppConfig::getInstance()->getServerBase() + path, safeBase64EncodeString(json), tag, "", "");
}

void login::requestCode(const std::string& path, const std::string& tag)
{
    const std::string mail = fieldText("email");
    if (!NSUI::isValidEmail(mail)) {
        toastKey("login_check_mail");
        return;
    }
    std::string json;
    setString(json, "mail", mail);
    post(path, json, tag, false);
}

void login::requestLogin()
{
    const std::string name = fieldText("email");
    const std::string password = fieldText("password");
    std::string json;
    if (name.find('@') != std::string::npos) {
        if (!NSUI::isValidEmail(name)) {
            toastKey("login_check_mail");
            return;
        }
        setString(json, "ismail", "1");
        setString(json, "mail", name);
    } else {
        setString(json, "ismail", "0");
        setString(json, "nickname", name);
    }
    if (password.empty()) {
        toastKey("login_input");
        return;
    }
    const std::string now = getCurrentDateTime();
    const auto seconds = static_cast<unsigned long>(std::time(nullptr));
    setLocalString(kLoginStringKey, name);
    setLocalString(kLoginTimeKey, now);
    g_loginTimestamp = static_cast<uint32_t>(seconds);
    setLocalString(kLoginTimestampKey, formatString("%lu", seconds));
    setString(json, "password", password);
    setString(json, "loginTime", now);
    setString(json, "isMobile", "0");
    post(kLoginPath, json, "login", true);
}

void login::requestChange()
{
    const std::string password1 = fieldText("password1", false);
    const std::string password2 = fieldText("password2", false);
    const std::string old = fieldText("old", false);
    if (password1 != password2 || password1.empty() || old.empty()) {
        toastKey("login_confirm_password");
        return;
    }
    if (!NSUI::isValidName(old) || !NSUI::isValidName(password1)) {
        showMessage(kPasswordCharsMessage, kToastSeconds);
        return;
    }
    std::string json;
    setString(json, "old", old);
    setString(json, "new", password1);
    setString(json, "nickname", getLocalString(kNicknameKey, ""));
    post(kChangePath, json, "change", true);
}

void login::requestRegister()
{
    const std::string mail = fieldText("email");
    const std::string confirm = fieldText("confirm");
    const std::string password = fieldText("password");
    const std::string name = fieldText("name");
    if (!mail.empty()) {
        if (!NSUI::isValidEmail(mail)) {
            toastKey("login_check_mail");
            return;
        }
        if (confirm != expectedCode) {
            toastKey("login_vcode_wrong");
            return;
        }
    }
    if (password.empty() || name.empty()) {
        toastKey("login_input");
        return;
    }
    if (!NSUI::isValidName(name)) {
        showMessage(kNameCharsMessage, kToastSeconds);
        return;
    }
    if (!NSUI::isValidName(password)) {
        showMessage(kPasswordCharsMessage, kToastSeconds);
        return;
    }
    std::string json;
    setString(json, "mail", mail);
    setString(json, "nickname", name);
    setString(json, "password", password);
    post(kRegisterPath, json, "register", true);
}

void login::requestSetMail()
{
    const std::string mail = fieldText("email");
    if (!NSUI::isValidEmail(mail)) {
        toastKey("login_check_mail");
        return;
    }
    if (fieldText("confirm") != expectedCode) {
        toastKey("login_vcode_wrong");
        return;
    }
    std::string json;
    setString(json, "mail", mail);
    setString(json, "nickname", getLocalString(kNicknameKey, ""));
    post(kSetMailPath, json, "setMail", true);
}

void login::openPrivacyPage()
{
    Scene* scene = Scene::create();
    auto* layout = dynamic_cast<ui::Widget*>(CSLoader::createNode("bkScene.csb"));
    const Size win = Director::getInstance()->getWinSize();
    if (layout) {
        layout->setContentSize(win);
        ui::Helper::doLayout(layout);
        if (auto* title = dynamic_cast<ui::Text*>(layout->getChildByNameDeep("title")))
            title->setString("Privacy Policy");
        if (auto* back = dynamic_cast<ui::Button*>(layout->getChildByNameDeep("goBack")))
            back->addClickEventListener([](Ref*) { Director::getInstance()->popScene(); });
        scene->addChild(layout);
    }
    NSUI::NSWebView* web = NSUI::NSWebView::create();
    web->setContentSize(Size(win.width, win.height - 60));
    web->loadURL(AppConfig::getInstance()->getServerBase() + kPrivacyPath);
    web->setVisible(true);
    scene->addChild(web);
    Director::getInstance()->pushScene(scene);
}

// ---- replies ------------------------------------------------------------------------------------

void login::onHttpResponse(NSUI::UIHttpResponse* response)
{
    if (!response)
        return;
    const std::string tag = response->tag;
    if (tagShowsBusy(tag))
        NSUI::NSActivity::dismiss();
    if (!response->succeeded || response->responseCode != 200) {
        toastKey("net_check_status");
        return;
    }
    std::string json = safeBase64DecodeString(response->body);
    // A reply that is not the Base64 text of a JSON object is a failed exchange.
    trim(json);
    if (json.empty() || json.front() != '{') {
        toastKey("net_check_status");
        return;
    }
    const bool ok = getString(json, "Status") == "0";
    if (tag == "login") {
        const std::string userid = getString(json, "userid");
        if (!ok || userid.empty()) {
            toastKey("login_login_fail");
            return;
        }
        NSUI::NSNotificationCenter::getInstance()->postIntNotification(this, NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED, 1);
        setLocalString(kLoginedKey, "1");
        setLocalString(kLoginIdKey, userid);
        setLocalString(kNicknameKey, getString(json, "nickname"));
        close();
    } else if (tag == "change") {
        if (ok) {
            showPage(PAGE_ACCOUNT);
            toastKey("login_change_ok");
        } else {
            toastKey("login_change_fail");
        }
    } else if (tag == "setMail") {
        if (ok) {
            toastKey("login_setmail_ok");
            showPage(std::atoi(getLocalString(kLoginedKey, "0").c_str()) != 0 ? PAGE_ACCOUNT : PAGE_LOGIN);
        } else {
            toastKey("net_check_status");
        }
    } else if (tag == "register") {
        if (ok) {
            toastKey("login_reg_ok");
            showPage(PAGE_LOGIN);
        } else {
            toastKey(getString(json, "Status") == "1" ? "login_nickname_fail" : "net_check_status");
        }
    } else if (tag == "getCode") {
        const std::string code = getString(json, "code");
        if (ok && !code.empty()) {
            expectedCode = code;
            toastKey("login_setmail_getcode");
        } else {
            toastKey("login_check_mail");
        }
    } else if (tag == "send") {
        toastKey(ok ? "login_sendMail" : "login_check_mail");
    }
}
