#include "Web/linux/WebKitPage.h"

#include "Web/linux/GObjectPtr.h"

namespace tarvel {

WebKitPage::WebKitPage(WebKitWebView* view) { g_weak_ref_init(&view_, view); }

WebKitPage::~WebKitPage() { g_weak_ref_clear(&view_); }

void WebKitPage::evaluateJavaScript(const std::string& script) {
    GObjectPtr<WebKitWebView> view(static_cast<WebKitWebView*>(g_weak_ref_get(&view_)));
    if (!view) return;
    // No completion callback: the script's result and any script error are ignored.
    webkit_web_view_evaluate_javascript(view.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

std::string WebKitPage::documentURL() const {
    GObjectPtr<WebKitWebView> view(static_cast<WebKitWebView*>(g_weak_ref_get(const_cast<GWeakRef*>(&view_))));
    const char* uri = view ? webkit_web_view_get_uri(view.get()) : nullptr;
    return uri ? uri : "";
}

void WebKitPage::evaluateJavaScripts(const std::vector<std::string>& scripts) {
    if (scripts.size() == 1) return evaluateJavaScript(scripts.front());
    std::string batch;
    for (const auto& script : scripts) batch += "try {\n" + script + "\n} catch (e) {}\n";
    if (!batch.empty()) evaluateJavaScript(batch);
}

} // namespace tarvel
