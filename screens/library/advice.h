// advice: the advice page. A full-window scene titled "Advice" whose web-page view shows the local
// page "pay/advice.htm" with every "JS_URL" replaced by the folder of the unpacked page scripts
// (qv/tmp/res/js under the writable path). The page signals an update by navigating to the local
// host's "/updateapk.html/" followed by the Base64 form of a package address: the view posts the
// address as 2028 for the HTTP centre and removes itself.
//
// The web-page view shows nothing on this desktop; the page text is prepared all the same, and the
// interception is answered when called.
//
// Main thread only.
#pragma once

#include "NSWebView.h"

class advice : public NSUI::NSWebView {
public:
    static constexpr const char* kPageFile = "pay/advice.htm";

    // The scene with the "bkScene.csb" bar and the page; null without the layout. The caller
    // pushes it.
    static cocos2d::Scene* createScene();
    CREATE_FUNC(advice);

    bool init() override;
    void onEnterTransitionDidFinish() override;
    // True: let the view follow the address; false: the page handled it.
    bool onURLIntercepted(std::string url) override;

    // The page text as last prepared.
    const std::string& getPageText() const { return pageText; }

private:
    std::string pageText;
};
