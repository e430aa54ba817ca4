#include "Web/linux/KeymapWebViewGtk.h"

#include <webkit/webkit.h>

#include <string>
#include <vector>

#include "Apps/linux/InventoryCollector.h"
#include "Web/linux/GLibMainQueue.h"
#include "Web/linux/GObjectPtr.h"
#include "Web/linux/Panels.h"
#include "Web/linux/URISchemeTask.h"
#include "Web/linux/WebKitPage.h"

namespace tarvel {

namespace {

using CoordinatorRef = std::shared_ptr<KeymapWebView::Coordinator>;

struct MessageHandler {
    CoordinatorRef coordinator;
    std::string name;
    GWeakRef view;  // the view whose document posts; set once the view exists
};

// The script value as JSON text; empty for undefined (a message without a body) and for anything
// the engine cannot convert.
std::string messageBody(JSCValue* value) {
    if (!value || jsc_value_is_undefined(value)) return {};
    char* text = jsc_value_to_json(value, 0);
    if (!text) return {};
    std::string body(text);
    g_free(text);
    return body;
}

MessageHandler* addScriptMessageHandler(WebKitUserContentManager* manager, const CoordinatorRef& coordinator,
                                        std::string_view name) {
    const std::string handlerName(name);
    webkit_user_content_manager_register_script_message_handler(manager, handlerName.c_str(), nullptr);
    const std::string signal = "script-message-received::" + handlerName;
    auto* handler = new MessageHandler{coordinator, handlerName, {}};
    g_weak_ref_init(&handler->view, nullptr);
    g_signal_connect_data(
        manager, signal.c_str(), G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, gpointer data) {
            auto* handler = static_cast<MessageHandler*>(data);
            GObjectPtr<WebKitWebView> view(static_cast<WebKitWebView*>(g_weak_ref_get(&handler->view)));
            const char* uri = view ? webkit_web_view_get_uri(view.get()) : nullptr;
            handler->coordinator->userContentControllerDidReceive(handler->name, messageBody(value), uri ? uri : "");
        }),
        handler,
        [](gpointer data, GClosure*) {
            auto* handler = static_cast<MessageHandler*>(data);
            g_weak_ref_clear(&handler->view);
            delete handler;
        },
        GConnectFlags(0));
    return handler;
}

// The page request's time limit. WebKitGTK's requests carry none, so the view stops loading when
// the page has not even begun to arrive by then.
void limitPageRequestTime(WebKitWebView* view) {
    struct Limit {
        GWeakRef view;
        guint source = 0;
    };
    auto* limit = new Limit;
    g_weak_ref_init(&limit->view, view);
    limit->source = g_timeout_add_seconds_full(
        G_PRIORITY_DEFAULT, static_cast<guint>(KeymapWebView::pageRequestTimeout.count()),
        [](gpointer data) -> gboolean {
            auto* limit = static_cast<Limit*>(data);
            limit->source = 0;
            GObjectPtr<WebKitWebView> view(static_cast<WebKitWebView*>(g_weak_ref_get(&limit->view)));
            if (view) webkit_web_view_stop_loading(view.get());
            return G_SOURCE_REMOVE;
        },
        limit, nullptr);
    g_signal_connect_data(
        view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
            auto* limit = static_cast<Limit*>(data);
            if (event >= WEBKIT_LOAD_COMMITTED && limit->source != 0) {
                g_source_remove(limit->source);
                limit->source = 0;
            }
        }),
        limit,
        [](gpointer data, GClosure*) {
            auto* limit = static_cast<Limit*>(data);
            if (limit->source != 0) g_source_remove(limit->source);
            g_weak_ref_clear(&limit->view);
            delete limit;
        },
        GConnectFlags(0));
}

} // namespace

CoordinatorRef KeymapWebViewGtk::makeCoordinator() {
    return std::make_shared<KeymapWebView::Coordinator>(KeymapWebView::Coordinator::Services{
        .mainQueue = std::make_shared<GLibMainQueue>(),
        .collectInventory = makeInventoryCollector(),
    });
}

GtkWidget* KeymapWebViewGtk::makeView(const CoordinatorRef& coordinator, const std::filesystem::path& resourcesDirectory) {
    // The configuration: a web context of the view's own (the scheme is registered on it) and a
    //    user content manager.
    GObjectPtr<WebKitWebContext> context(webkit_web_context_new());
    GObjectPtr<WebKitUserContentManager> contentManager(webkit_user_content_manager_new());

    // The coordinator handles every message of its table, "tarvelApply" first.
    std::vector<MessageHandler*> handlers;
    for (auto name : coordinator->messageNames())
        handlers.push_back(addScriptMessageHandler(contentManager.get(), coordinator, name));

    // The page among the application's resources.
    const std::filesystem::path page =
        resourcesDirectory / std::string(KeymapWebView::resourceFolder) / std::string(KeymapWebView::pageFileName);
    std::error_code error;
    const bool pageExists = std::filesystem::is_regular_file(page, error);

    if (pageExists) {
        // The root: the folder that holds the page, absolute and without "." or ".." parts.
        std::filesystem::path root = std::filesystem::absolute(page, error).parent_path().lexically_normal();
        if (root.has_relative_path() && root.filename().empty()) root = root.parent_path();
        // The scheme handler, kept by the context and by the coordinator.
        auto handler = std::make_shared<BundleSchemeHandler>(root);
        registerBundleSchemeHandler(context.get(), handler);
        coordinator->schemeHandler = handler;
    }

    // The view over that configuration (the same one when the page is missing).
    auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context.get(),
                                              "user-content-manager", contentManager.get(), nullptr));
    for (auto* handler : handlers) g_weak_ref_set(&handler->view, view);

    if (pageExists) {
        // The coordinator's panels and downloads, and the page it answers, held weakly.
        Panels::attach(view);
        auto webPage = std::make_shared<WebKitPage>(view);
        coordinator->webView = webPage;
        g_object_set_data_full(G_OBJECT(view), "tarvel-web-page", new std::shared_ptr<WebPage>(std::move(webPage)),
                               [](gpointer data) { delete static_cast<std::shared_ptr<WebPage>*>(data); });
        // The page.
        limitPageRequestTime(view);
        const std::string address(KeymapWebView::pageAddress);
        webkit_web_view_load_uri(view, address.c_str());
    } else {
        // No delegates, no page for the coordinator: the notice alone.
        webkit_web_view_load_html(view, KeymapWebView::noticeDocument().c_str(), nullptr);
    }
    return GTK_WIDGET(view);
}

} // namespace tarvel
