#include "Web/linux/KeymapWebViewGtk.h"

#include <webkit/webkit.h>

#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Apps/linux/InventoryCollector.h"
#include "Platform/linux/GioFolderMonitor.h"
#include "Platform/linux/SoupHttpTransport.h"
#include "Web/NavigationPolicy.h"
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

// What the view's own handlers need: its coordinator, the recovery rule, and whether the next load
// of about:blank is our own notice.
struct ViewState {
    CoordinatorRef coordinator;
    WebProcessRecovery recovery;
    bool noticeLoadExpected = false;
};

void showNotice(WebKitWebView* view, ViewState& state, const std::string& document) {
    state.noticeLoadExpected = true;
    webkit_web_view_load_html(view, document.c_str(), nullptr);
}

// Every navigation and every new window the page asks for is judged by the core's rule. WebKitGTK
// does not say which frame navigates, nor whether a link asked for a download: each navigation is
// judged as the main frame's (the stricter rule; the editor has no frames), and a blob address,
// which only the page's own exports produce, as a download.
gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer data) {
    auto* state = static_cast<ViewState*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;  // its navigation was judged already
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* address = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    const std::string url = address ? address : "";
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && state->noticeLoadExpected && url == "about:blank") {
        state->noticeLoadExpected = false;
        webkit_policy_decision_use(decision);
        return TRUE;
    }
    const bool blob = url.rfind("blob:", 0) == 0;
    switch (decideNavigation({.url = url,
                              .mainFrame = true,
                              .userActivated = webkit_navigation_action_is_user_gesture(action) != FALSE,
                              .wantsDownload = blob})) {
    case NavigationDecision::allow:
        // Never a second window, not even of the editor.
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) webkit_policy_decision_ignore(decision);
        else webkit_policy_decision_use(decision);
        break;
    case NavigationDecision::download:
        webkit_policy_decision_download(decision);
        break;
    case NavigationDecision::openInBrowser:
        webkit_policy_decision_ignore(decision);
        KeymapWebViewGtk::openInBrowser(url);
        break;
    case NavigationDecision::cancel:
        webkit_policy_decision_ignore(decision);
        break;
    }
    return TRUE;
}

// A new document: answers to what the previous one asked must not reach it.
void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_COMMITTED) static_cast<ViewState*>(data)->coordinator->documentChanged();
}

void webProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason, gpointer data) {
    auto* state = static_cast<ViewState*>(data);
    state->coordinator->documentChanged();
    if (state->recovery.webProcessTerminated(WebProcessRecovery::Clock::now()) == WebProcessRecovery::Action::reload) {
        const std::string address(KeymapWebView::recoveredPageAddress);
        webkit_web_view_load_uri(view, address.c_str());
    } else {
        showNotice(view, *state, KeymapWebView::stoppedNoticeDocument());
    }
}

void lockDown(WebKitWebView* view, const CoordinatorRef& coordinator) {
    auto* state = new ViewState{coordinator, {}, false};
    g_object_set_data_full(G_OBJECT(view), "tarvel-view-state", state, [](gpointer data) { delete static_cast<ViewState*>(data); });
    g_signal_connect(view, "decide-policy", G_CALLBACK(decidePolicy), state);
    g_signal_connect(view, "load-changed", G_CALLBACK(loadChanged), state);
    g_signal_connect(view, "web-process-terminated", G_CALLBACK(webProcessTerminated), state);
}

} // namespace

std::function<void(const std::string&)> KeymapWebViewGtk::openInBrowser = [](const std::string& address) {
    // Off the main thread: finding the browser reads GIO's application registry, whose folder scan
    // can take long (or, with a link that loops, forever).
    try {
        std::thread([address] { (void)g_app_info_launch_default_for_uri(address.c_str(), nullptr, nullptr); }).detach();
    } catch (const std::system_error&) {
    }
};

CoordinatorRef KeymapWebViewGtk::makeCoordinator() {
    return std::make_shared<KeymapWebView::Coordinator>(KeymapWebView::Coordinator::Services{
        .mainQueue = std::make_shared<GLibMainQueue>(),
        .collectInventory = makeInventoryCollector(),
        .folderMonitor = std::make_shared<GioFolderMonitor>(),
        .httpTransport = std::make_shared<SoupHttpTransport>(),
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
    lockDown(view, coordinator);

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
        showNotice(view, *static_cast<ViewState*>(g_object_get_data(G_OBJECT(view), "tarvel-view-state")),
                   KeymapWebView::noticeDocument());
    }
    return GTK_WIDGET(view);
}

} // namespace tarvel
