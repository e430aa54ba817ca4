#include "Web/mac/WKWebViewPage.h"

#import <dispatch/dispatch.h>

namespace tarvel {

void WKWebViewPage::evaluateJavaScript(const std::string& script) {
    NSString* text = [[NSString alloc] initWithBytes:script.data() length:script.size() encoding:NSUTF8StringEncoding];
    if (!text) return;
    // WebKit is used on the main thread only; from any other the script goes there, in order.
    if (![NSThread isMainThread]) {
        __weak WKWebView* weakView = view_;
        dispatch_async(dispatch_get_main_queue(), ^{
            [weakView evaluateJavaScript:text completionHandler:nil];
        });
        return;
    }
    // No completion handler: the script's result and any script error are ignored.
    [view_ evaluateJavaScript:text completionHandler:nil];
}

std::string WKWebViewPage::documentURL() const {
    const char* address = view_.URL.absoluteString.UTF8String;
    return address ? address : "";
}

} // namespace tarvel
