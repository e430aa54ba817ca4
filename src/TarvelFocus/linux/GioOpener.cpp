#include "GioOpener.h"

#include "GLibPtr.h"
#include "SharedLibrary.h"

#include <gio/gdesktopappinfo.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tarvel_focus::linux_platform {

namespace {

// The part of GIO used to launch, loaded when a fallback is opened.
struct Gio {
    Gio()
        : library("libgio-2.0.so.0"),
          fromDesktopFile(library.function<decltype(g_desktop_app_info_new_from_filename)>(
              "g_desktop_app_info_new_from_filename")),
          fromCommandLine(
              library.function<decltype(g_app_info_create_from_commandline)>("g_app_info_create_from_commandline")),
          launchAsync(library.function<decltype(g_app_info_launch_uris_async)>("g_app_info_launch_uris_async")),
          launchFinish(library.function<decltype(g_app_info_launch_uris_finish)>("g_app_info_launch_uris_finish")),
          unref(library.function<decltype(g_object_unref)>("g_object_unref")) {}

    bool usable() const { return fromDesktopFile && fromCommandLine && launchAsync && launchFinish && unref; }

    SharedLibrary library;
    decltype(g_desktop_app_info_new_from_filename)* fromDesktopFile;
    decltype(g_app_info_create_from_commandline)* fromCommandLine;
    decltype(g_app_info_launch_uris_async)* launchAsync;
    decltype(g_app_info_launch_uris_finish)* launchFinish;
    decltype(g_object_unref)* unref;
};

const Gio& gio() {
    // Never unloaded: a launch that outlives the caller's wait may still be inside GIO while the
    // process exits.
    static const Gio& loaded = *new Gio;
    return loaded;
}

// Owns one reference to an application info.
class AppInfo {
public:
    AppInfo(const Gio& gio, gpointer info) : gio_(gio), info_(static_cast<GAppInfo*>(info)) {}
    ~AppInfo() {
        if (info_) gio_.unref(info_);
    }
    AppInfo(const AppInfo&) = delete;
    AppInfo& operator=(const AppInfo&) = delete;
    GAppInfo* get() const { return info_; }

private:
    const Gio& gio_;
    GAppInfo* info_;
};

bool isDesktopEntryPath(const std::string& path) {
    constexpr std::string_view suffix = ".desktop";
    return path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// stat never waits on what it looks at; GIO's open of a FIFO would wait for a writer.
bool isRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isExecutableFile(const std::string& path) { return isRegularFile(path) && access(path.c_str(), X_OK) == 0; }

gpointer applicationAt(const Gio& gio, const std::string& path) {
    // An entry file is always read as an entry, even when marked executable: never run it as a script.
    if (isDesktopEntryPath(path)) return isRegularFile(path) ? gio.fromDesktopFile(path.c_str()) : nullptr;
    // A directory or a document is no application here.
    if (!isExecutableFile(path)) return nullptr;
    // GIO expands field codes ("%f", "%u"...) anywhere in a command line, quotes or not: every
    // "%" of the path is written "%%", so that the program run is the file that was checked.
    GMemoryPtr<gchar> quoted(g_shell_quote(path.c_str()));
    std::string commandLine;
    for (const char* c = quoted.get(); *c; ++c) commandLine += *c == '%' ? std::string("%%") : std::string(1, *c);
    return gio.fromCommandLine(commandLine.c_str(), nullptr, G_APP_INFO_CREATE_NONE, nullptr);
}

// A main context of the launching thread's own, so that GIO's answer arrives there.
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

struct Launch {
    const Gio& gio;
    bool finished = false;
    bool launched = false;
};

void launchFinished(GObject* source, GAsyncResult* result, gpointer data) {
    auto* launch = static_cast<Launch*>(data);
    GError* error = nullptr;
    launch->launched = launch->gio.launchFinish(reinterpret_cast<GAppInfo*>(source), result, &error);
    if (error) g_error_free(error);
    launch->finished = true;
}

} // namespace

bool GioOpener::launch(const std::string& absolutePath) {
    const Gio& gio = linux_platform::gio();
    if (!gio.usable()) return false;
    const AppInfo application(gio, applicationAt(gio, absolutePath));
    if (!application.get()) return false;
    ThreadContext context;
    // Asynchronous so that a D-Bus activated application's answer is waited for, not assumed.
    Launch launch{gio};
    gio.launchAsync(application.get(), nullptr, nullptr, nullptr, launchFinished, &launch);
    while (!launch.finished) g_main_context_iteration(context.get(), TRUE);
    return launch.launched;
}

void GioOpener::openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) {
    // Detached: if the launch hangs past the caller's time limit, the process ends without it.
    auto shared = std::make_shared<std::function<void(bool)>>(std::move(completion));
    try {
        std::thread([absolutePath, shared] { (*shared)(launch(absolutePath)); }).detach();
    } catch (const std::system_error&) {
        (*shared)(false); // no thread to launch from: a failed open, not a crash
    }
}

} // namespace tarvel_focus::linux_platform
