#include "GioOpener.h"

#include "GObjectPtr.h"

#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvel_focus::linux_platform {

namespace {

bool isDesktopEntryPath(const std::string& path) {
    constexpr std::string_view suffix = ".desktop";
    return path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

GObjectPtr<GAppInfo> applicationAt(const std::string& path) {
    if (isDesktopEntryPath(path))
        return GObjectPtr<GAppInfo>(G_APP_INFO(g_desktop_app_info_new_from_filename(path.c_str())));
    // Checked here and not by a shell: a directory or a document is no application on this platform.
    if (!isExecutableFile(path)) return nullptr;
    GMemoryPtr<gchar> quoted(g_shell_quote(path.c_str()));
    return GObjectPtr<GAppInfo>(
        g_app_info_create_from_commandline(quoted.get(), nullptr, G_APP_INFO_CREATE_NONE, nullptr));
}

// Owns a main context made the thread's default for the duration of the launch.
class ThreadContext {
public:
    ThreadContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~ThreadContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    ThreadContext(const ThreadContext&) = delete;
    ThreadContext& operator=(const ThreadContext&) = delete;
    GMainContext* get() const { return context_; }

private:
    GMainContext* context_;
};

struct LaunchState {
    bool finished = false;
    bool launched = false;
};

void launchFinished(GObject* source, GAsyncResult* result, gpointer data) {
    auto* state = static_cast<LaunchState*>(data);
    GError* error = nullptr;
    state->launched = g_app_info_launch_uris_finish(G_APP_INFO(source), result, &error);
    if (error) g_error_free(error);
    state->finished = true;
}

} // namespace

bool GioOpener::launch(const std::string& absolutePath) {
    const auto application = applicationAt(absolutePath);
    if (!application) return false;
    ThreadContext context;
    // Asynchronous so that a D-Bus activated application's answer is waited for, not assumed.
    LaunchState state;
    g_app_info_launch_uris_async(application.get(), nullptr, nullptr, nullptr, launchFinished, &state);
    while (!state.finished) g_main_context_iteration(context.get(), TRUE);
    return state.launched;
}

void GioOpener::openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) {
    // Detached: if the launch hangs past the caller's time limit, the process ends without it.
    std::thread([absolutePath, completion = std::move(completion)] { completion(launch(absolutePath)); }).detach();
}

} // namespace tarvel_focus::linux_platform
