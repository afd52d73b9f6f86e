// Toasts: one "messageBox" per scene, reused, shown for the given time, centred again when the
// window is resized; the scene-level holder.
#include "NSLayout.h"
#include "messageView.h"
#include "support/WidgetsFixture.h"
#include "NetworkUtils.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace cocos2d;

namespace
{

class ToastTest : public WidgetsTest
{
protected:
    int countNamed(Node* parent, const std::string& name)
    {
        int n = 0;
        for (auto* child : parent->getChildren())
            n += child->getName() == name ? 1 : 0;
        return n;
    }
    std::string toastText()
    {
        auto* box = scene->getChildByName("messageBox");
        auto* text = box ? dynamic_cast<ui::Text*>(box->getChildByNameDeep("messageBox.text")) : nullptr;
        return text ? text->getString() : "<none>";
    }
};

TEST_F(ToastTest, SecondToastReusesTheBoxAndRearmsItsTime)
{
    auto* layout = NSUI::NSLayout::create();
    scene->addChild(layout);

    layout->showMessage("first", 2.0f);
    step(60); // 1 s
    layout->showMessage("second", 2.0f);
    EXPECT_EQ(countNamed(scene, "messageBox"), 1);
    EXPECT_EQ(toastText(), "second");

    auto* box = scene->getChildByName("messageBox");
    EXPECT_EQ(box->getLocalZOrder(), NSUI::kMessageBoxZOrder);
    EXPECT_EQ(box->getContentSize(), Size(960 * 0.8f, 80));
    EXPECT_EQ(box->getPosition(), Vec2(480, 640 * 0.15f));

    step(90); // 1.5 s after the second toast: the first one's time is long over
    EXPECT_TRUE(box->isVisible());
    step(40);
    EXPECT_FALSE(box->isVisible());

    // Hidden boxes are shown again by the next toast.
    NSUI::messageView::showMessage("third", 1.0f);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(toastText(), "third");
}

// A message longer than the box (an archive's path) wraps inside it and the box grows to hold
// its lines; a short one after it is one centred line in a box of the usual height again.
TEST_F(ToastTest, LongMessageWrapsInsideItsBox)
{
    auto* layout = NSUI::NSLayout::create();
    scene->addChild(layout);
    std::string path = "The archive was saved: /home/reader/.local/share/quorvane/qv/tmp/zip/";
    for (int i = 0; i < 6; ++i)
        path += "a-long-folder-name/";
    layout->showMessage(path + "1796604736.zip", 2.0f);
    auto* box = dynamic_cast<ui::Widget*>(scene->getChildByName("messageBox"));
    auto* text = dynamic_cast<ui::Text*>(box->getChildByNameDeep("messageBox.text"));
    ASSERT_TRUE(box && text);
    step(1);
    const Rect inBox = text->getBoundingBox();
    EXPECT_GE(inBox.getMinX(), 0.0f);
    EXPECT_LE(inBox.getMaxX(), box->getContentSize().width);
    EXPECT_GE(inBox.getMinY(), 0.0f);
    EXPECT_LE(inBox.getMaxY(), box->getContentSize().height);
    EXPECT_GT(box->getContentSize().height, 80.0f);
    EXPECT_EQ(box->getContentSize().width, 960 * 0.8f);
    // The path breaks between its folders, never inside a name: every line but the last ends at
    // a space of the message or with a '/'.
    const std::string message = path + "1796604736.zip";
    const std::string shown = text->getString();
    size_t at = 0;   // in the text shown
    size_t pos = 0;  // in the message
    size_t lines = 0;
    for (size_t end = shown.find('\n'); end != std::string::npos; end = shown.find('\n', at)) {
        const std::string line = shown.substr(at, end - at);
        ASSERT_EQ(message.compare(pos, line.size(), line), 0) << line;
        pos += line.size();
        const bool atSpace = pos < message.size() && message[pos] == ' ';
        EXPECT_TRUE(line.back() == '/' || atSpace) << "\"" << line << "\" is cut inside a name";
        pos += atSpace ? 1 : 0;
        at = end + 1;
        ++lines;
    }
    EXPECT_GE(lines, 1u);

    layout->showMessage("short", 2.0f);
    step(1);
    EXPECT_EQ(box->getContentSize(), Size(960 * 0.8f, 80));
    EXPECT_FLOAT_EQ(text->getBoundingBox().getMidY(), 40.0f);
}

TEST_F(ToastTest, ToastStaysCentredWhenTheWindowIsResized)
{
    GLView* view = director->getOpenGLView();
    view->setDesignResolutionSize(960, 640, ResolutionPolicy::SHOW_ALL);
    NSUI::messageView::showMessage("shown", 2.0f);
    auto* box = scene->getChildByName("messageBox");
    ASSERT_NE(box, nullptr);
    view->resizeFrame(Size(1200, 800));
    ASSERT_EQ(director->getWinSize(), Size(1200, 800));
    EXPECT_EQ(box->getPosition(), Vec2(600, 800 * 0.15f));
    EXPECT_EQ(box->getContentSize(), Size(1200 * 0.8f, 80));
    step();
    EXPECT_EQ(box->getChildByName("messageBox.text")->getPosition(), Vec2(480, 40));

    // Hidden, it is placed for the window all the same, ready for the next toast.
    step(130);
    ASSERT_FALSE(box->isVisible());
    view->resizeFrame(Size(800, 600));
    NSUI::messageView::showMessage("again", 2.0f);
    EXPECT_EQ(scene->getChildByName("messageBox"), box);
    EXPECT_EQ(box->getPosition(), Vec2(400, 600 * 0.15f));
    EXPECT_EQ(box->getContentSize(), Size(800 * 0.8f, 80));
}

TEST_F(ToastTest, HolderIsOnePerSceneAndFollowsSceneChanges)
{
    NSUI::messageView::showMessage("a", 2.0f);
    NSUI::messageView::showMessage("b", 2.0f);
    EXPECT_EQ(countNamed(scene, "ns_fun_messageBox"), 1);
    EXPECT_EQ(countNamed(scene, "messageBox"), 1);
    auto* holder = dynamic_cast<NSUI::messageView*>(scene->getChildByName("ns_fun_messageBox"));
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->getOwnerNode(), scene);

    auto* next = Scene::create();
    director->replaceScene(next);
    step(1);
    NSUI::messageView::showMessage("on the new scene", 2.0f);
    EXPECT_EQ(countNamed(next, "ns_fun_messageBox"), 1);
    auto* box = next->getChildByName("messageBox");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(dynamic_cast<ui::Text*>(box->getChildByNameDeep("messageBox.text"))->getString(), "on the new scene");
}

class NoToasts : public NSUI::UIControlBase
{
public:
    Node* createMessageNode() override { return nullptr; }
};

TEST_F(ToastTest, NoBoxNoSceneNoToast)
{
    NoToasts quiet;
    quiet.showMessage("never", 2.0f);
    EXPECT_EQ(scene->getChildByName("messageBox"), nullptr);

    // Before any scene runs, a toast is a no-op rather than a crash.
    Director::destroyInstance();
    director = Director::getInstance();
    director->setOpenGLView(GLViewHeadless::create(Size(960, 640)));
    NSUI::messageView::showMessage("nobody sees this", 2.0f);
    NSUI::UIControlBase().showMessage("nor this", 2.0f);
    EXPECT_EQ(director->getRunningScene(), nullptr);
}

TEST_F(ToastTest, RelativeLayoutOnlyForWidgetsAndValidAlignments)
{
    auto* layout = NSUI::NSLayout::create();
    layout->setRelativeLayout(0, "x", ui::Margin());
    EXPECT_EQ(layout->getLayoutParameter(), nullptr);
    layout->setRelativeLayout(9, "corner", ui::Margin(1, 2, 3, 4));
    auto* param = dynamic_cast<ui::RelativeLayoutParameter*>(layout->getLayoutParameter());
    ASSERT_NE(param, nullptr);
    EXPECT_EQ(static_cast<int>(param->getAlign()), 9);
}

TEST(Validators, EmailAndName)
{
    EXPECT_TRUE(NSUI::isValidEmail("john.doe-1_x@example.com"));
    EXPECT_TRUE(NSUI::isValidEmail("a@b1.co.uk"));
    EXPECT_FALSE(NSUI::isValidEmail("a@b.c"));             // one-character suffix
    EXPECT_FALSE(NSUI::isValidEmail("a@b.abcdef"));        // six characters
    EXPECT_FALSE(NSUI::isValidEmail("a@b.co.uk.org"));     // four labels
    EXPECT_FALSE(NSUI::isValidEmail("a@my-host.com"));     // "-" after the "@"
    EXPECT_FALSE(NSUI::isValidEmail("a b@host.com"));
    EXPECT_FALSE(NSUI::isValidEmail("@host.com"));         // nothing before the "@"
    EXPECT_FALSE(NSUI::isValidEmail("a@b@host.com"));
    EXPECT_FALSE(NSUI::isValidEmail("a@.com"));            // no host
    EXPECT_FALSE(NSUI::isValidEmail("a@host"));            // no suffix
    EXPECT_FALSE(NSUI::isValidEmail("a@host.com."));       // an empty last label
    EXPECT_TRUE(NSUI::isValidName("user_01.x-y"));
    EXPECT_FALSE(NSUI::isValidName(""));
    EXPECT_FALSE(NSUI::isValidName("user name"));
    EXPECT_FALSE(NSUI::isValidName("n\xC3\xA4me"));
}

TEST(NetworkCheck, IPv4OnlyAdaptersNeverCountAsAvailable)
{
    static std::atomic<int> queried{0};
    setLocalNetworkQuery(LocalNetworkQuery{
        [] {
            ++queried;
            return std::vector<LocalAdapterAddress>{{"192.168.1.5", "255.255.255.0"}};
        },
        [](std::string& name) {
            name = "host";
            return true;
        }});
    EXPECT_FALSE(NSUI::hasLocalIPAddress());
    EXPECT_FALSE(NSUI::isNetworkAvailable()); // the first call answers at once and starts the check
    for (int i = 0; i < 2000 && queried.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // let the check thread finish
    EXPECT_EQ(queried.load(), 2); // one check per run, however often it is asked
    EXPECT_FALSE(NSUI::isNetworkAvailable());
    EXPECT_EQ(queried.load(), 2);
}

} // namespace
