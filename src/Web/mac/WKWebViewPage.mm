#include "Web/mac/WKWebViewPage.h"

namespace tarvel {

void WKWebViewPage::evaluateJavaScript(const std::string& script) {
    WKWebView* view = view_;
    if (!view) return;
    NSString* text = [[NSString alloc] initWithBytes:script.data() length:script.size() encoding:NSUTF8StringEncoding];
    if (!text) return;
    // No completion handler: the script's result and any script error are ignored.
    [view evaluateJavaScript:text completionHandler:nil];
}

} // namespace tarvel
