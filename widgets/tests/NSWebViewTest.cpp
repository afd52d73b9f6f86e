// The web-page holder: covers the window, loads nothing, offers the action addresses.
#include "NSWebView.h"
#include "support/WidgetsFixture.h"

using namespace cocos2d;

namespace
{

class Intercepting : public NSUI::NSWebView
{
public:
    static Intercepting* make()
    {
        auto* v = new Intercepting();
        v->init();
        v->autorelease();
        return v;
    }
    bool onURLIntercepted(std::string url) override { return url.rfind(retryURL, 0) != 0; }
};

using NSWebViewTest = WidgetsTest;

TEST_F(NSWebViewTest, CoversTheWindowAndLoadsNothing)
{
    auto* view = Intercepting::make();
    EXPECT_FALSE(view->onURLIntercepted(view->retryURL + "?a=1"));
    EXPECT_FALSE(NSUI::NSWebView::create()->onURLIntercepted("http://example.org/"));

    auto* below = Node::create();
    scene->addChild(below, 5);
    scene->addChild(view);
    EXPECT_TRUE(view->isFirstEntry() == false);
    EXPECT_EQ(view->getContentSize(), Size(960, 640));
    EXPECT_EQ(scene->getChildren().back(), view); // above ordinary content
    view->loadURL("http://127.0.0.1/pay/advice.htm");
    EXPECT_EQ(view->getCurrentURL(), "");
    EXPECT_EQ(view->getChildrenCount(), 0u);
    view->setVisible(false);
    EXPECT_FALSE(view->isWebVisible());
}

} // namespace
