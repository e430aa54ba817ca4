#pragma once
#include <webkit/webkit.h>

#include "Web/WebPage.h"

namespace tarvel {

// The page of one WebKitWebView, referred to weakly: evaluating a script in a view that is being
// torn down does nothing.
class WebKitPage : public WebPage {
public:
    explicit WebKitPage(WebKitWebView* view);
    ~WebKitPage() override;
    WebKitPage(const WebKitPage&) = delete;
    WebKitPage& operator=(const WebKitPage&) = delete;

    void evaluateJavaScript(const std::string& script) override;
    std::string documentURL() const override;
    // One evaluation for all: each answer that crosses to the web process costs the main thread a
    // message and its reply.
    void evaluateJavaScripts(const std::vector<std::string>& scripts) override;

private:
    GWeakRef view_;
};

} // namespace tarvel
