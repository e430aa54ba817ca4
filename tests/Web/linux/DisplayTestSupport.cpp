#include "Web/linux/DisplayTestSupport.h"

#include <memory>

namespace tarvel::test {

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    bool done = false;
    Json value;
};

Json toJson(JSCValue* value) {
    if (!value || jsc_value_is_undefined(value)) return nullptr;
    char* text = jsc_value_to_json(value, 0);
    if (!text) return nullptr;
    Json json = Json::parse(text, nullptr, false);
    g_free(text);
    return json;
}

} // namespace

bool spinUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return true;
}

void spinFor(double seconds) {
    spinUntil([] { return false; }, seconds);
}

// Runs `start` with a completion that turns the script's result (or its error) into JSON, and waits
// for it.
using ScriptFinish = JSCValue* (*)(WebKitWebView*, GAsyncResult*, GError**);
Json runScript(const std::function<void(GAsyncReadyCallback, gpointer)>& start, ScriptFinish finish) {
    struct Call {
        ScriptFinish finish;
        std::shared_ptr<Pending> pending;
    };
    auto pending = std::make_shared<Pending>();
    start(
        [](GObject* view, GAsyncResult* result, gpointer data) {
            auto* call = static_cast<Call*>(data);
            GError* error = nullptr;
            JSCValue* value = call->finish(WEBKIT_WEB_VIEW(view), result, &error);
            call->pending->value = value ? toJson(value) : Json{{"scriptError", error ? error->message : "?"}};
            if (value) g_object_unref(value);
            if (error) g_error_free(error);
            call->pending->done = true;
            delete call;
        },
        new Call{finish, pending});
    spinUntil([&] { return pending->done; });
    return pending->value;
}

Json evaluate(WebKitWebView* view, const std::string& expression) {
    return runScript(
        [&](GAsyncReadyCallback done, gpointer data) {
            webkit_web_view_evaluate_javascript(view, expression.c_str(), -1, nullptr, nullptr, nullptr, done, data);
        },
        webkit_web_view_evaluate_javascript_finish);
}

Json callAsync(WebKitWebView* view, const std::string& body) {
    return runScript(
        [&](GAsyncReadyCallback done, gpointer data) {
            webkit_web_view_call_async_javascript_function(view, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                                           done, data);
        },
        webkit_web_view_call_async_javascript_function_finish);
}

bool waitInPage(WebKitWebView* view, const std::string& expression, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (evaluate(view, "!!(" + expression + ")") == Json(true)) return true;
        spinFor(0.02);
    }
    return false;
}

bool waitForLoad(WebKitWebView* view, double seconds) {
    return spinUntil([&] { return !webkit_web_view_is_loading(view) && webkit_web_view_get_uri(view); }, seconds);
}

TestWindow::TestWindow(GtkWidget* child, int width, int height) : window_(GTK_WINDOW(gtk_window_new())) {
    g_object_ref(window_);
    gtk_window_set_default_size(window_, width, height);
    gtk_window_set_child(window_, child);
    gtk_window_present(window_);
}

TestWindow::~TestWindow() {
    gtk_window_destroy(window_);
    g_object_unref(window_);
}

GtkWindow* findToplevel(const std::function<bool(GtkWindow*)>& matches) {
    GListModel* toplevels = gtk_window_get_toplevels();
    for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
        auto* window = GTK_WINDOW(g_list_model_get_item(toplevels, i));
        g_object_unref(window);  // the list keeps it
        if (gtk_widget_get_visible(GTK_WIDGET(window)) && matches(window)) return window;
    }
    return nullptr;
}

GtkWindow* waitForToplevel(const std::function<bool(GtkWindow*)>& matches, double seconds) {
    GtkWindow* found = nullptr;
    spinUntil([&] { return (found = findToplevel(matches)) != nullptr; }, seconds);
    return found;
}

} // namespace tarvel::test
