#pragma once
#import <WebKit/WebKit.h>

#include "Web/WebPage.h"

namespace tarvel {

// The page of one WKWebView, referred to weakly: once the view is gone, evaluating does nothing.
class WKWebViewPage : public WebPage {
public:
    explicit WKWebViewPage(WKWebView* view) : view_(view) {}

    void evaluateJavaScript(const std::string& script) override;
    // Main thread only, as WebKit is.
    std::string documentURL() const override;

private:
    __weak WKWebView* view_;
};

} // namespace tarvel
