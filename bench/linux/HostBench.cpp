// Figures of the desktop host, printed for bench/host-benchmarks:
//   tarvel-host-bench start LAUNCH_NS    the application's window as `tarvel` builds it; prints the
//                                        milliseconds from LAUNCH_NS (CLOCK_REALTIME, taken just
//                                        before the process started) to the page's load-finished
//   tarvel-host-bench apply COUNT        COUNT apply messages with an empty manipulator list from a
//                                        page to the real coordinator and back; prints the round
//                                        trips, the writer's own time, and malformed-body trips
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Karabiner/KarabinerWriter.h"
#include "Web/KeymapWebView.h"
#include "Web/linux/GLibMainQueue.h"
#include "Web/linux/KeymapWebViewGtk.h"
#include "Shell/linux/ContentView.h"
#include "Shell/linux/TarvelApp.h"

namespace fs = std::filesystem;
using namespace tarvel;

namespace {

long long realtimeNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

WebKitWebView* findWebView(GtkWidget* widget) {
    if (WEBKIT_IS_WEB_VIEW(widget)) return WEBKIT_WEB_VIEW(widget);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (WebKitWebView* view = findWebView(child)) return view;
    }
    return nullptr;
}

// Milliseconds since the launch, for the phases printed on standard error.
long long launchTime = 0;
void phase(const char* name) { std::fprintf(stderr, "%8.1f ms  %s\n", (realtimeNanoseconds() - launchTime) / 1e6, name); }

int start(int argc, char** argv, long long launched) {
    launchTime = launched;
    phase("main");
    GtkApplication* application = gtk_application_new(TarvelApp::applicationId, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(+[](GApplication* application, gpointer) {
                         phase("activate");
                         GtkWidget* window = TarvelApp::makeWindow(GTK_APPLICATION(application));
                         phase("window made");
                         gtk_window_present(GTK_WINDOW(window));
                         phase("window presented");
                         WebKitWebView* view = findWebView(window);
                         if (!view) {
                             std::fprintf(stderr, "no web view: is the stand-in settings entry on the data path?\n");
                             g_application_quit(application);
                             return;
                         }
                         g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer app) {
                                              if (event == WEBKIT_LOAD_COMMITTED) phase("page committed");
                                              if (event != WEBKIT_LOAD_FINISHED) return;
                                              phase("load finished");
                                              std::printf("%.1f\n", (realtimeNanoseconds() - launchTime) / 1e6);
                                              std::fflush(stdout);
                                              g_application_quit(G_APPLICATION(app));
                                          }),
                                          application);
                     }),
                     nullptr);
    char* arguments[] = {argv[0], nullptr};
    (void)argc;
    const int status = g_application_run(G_APPLICATION(application), 1, arguments);
    g_object_unref(application);
    return status;
}

const char* benchPage = R"(<!doctype html><meta charset="utf-8"><script>
window.bench = {done: false, trips: [], body: null, count: 0};
window.__tarvelApplyResolve = (answer) => {
    bench.trips.push(performance.now() - bench.sent);
    bench.last = answer;
    next();
};
function next() {
    if (bench.trips.length >= bench.count) { bench.total = performance.now() - bench.start; bench.done = true; return; }
    bench.sent = performance.now();
    window.webkit.messageHandlers.tarvelApply.postMessage(bench.body);
}
window.runBench = (count, body) => { bench = {done: false, trips: [], body, count, start: performance.now()}; next(); };
</script>)";

bool spinUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        g_main_context_iteration(nullptr, TRUE);
    }
    return true;
}

std::string evaluateToJson(WebKitWebView* view, const std::string& script) {
    struct Result {
        bool done = false;
        std::string json;
    } result;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* async, gpointer data) {
            auto* result = static_cast<Result*>(data);
            if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), async, nullptr)) {
                char* json = jsc_value_to_json(value, 0);
                result->json = json ? json : "null";
                g_free(json);
                g_object_unref(value);
            }
            result->done = true;
        },
        &result);
    spinUntil([&] { return result.done; }, 60);
    return result.json;
}

struct Summary {
    double median, p95, mean;
};

Summary summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values) sum += v;
    return {values[values.size() / 2], values[std::min(values.size() - 1, values.size() * 95 / 100)], sum / values.size()};
}

// Backups pile up one per apply; each batch starts without them, as a user's apply would.
void removeBackups(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(std::string(KarabinerWriter::backupPrefix), 0) == 0) fs::remove(entry.path());
    }
}

// The page's clock is coarse (WebKit rounds it to a millisecond), so a trip's time is the mean
// over a batch of trips made one after the other; the figures are over batches.
std::vector<double> roundTrips(WebKitWebView* view, int batches, int perBatch, const std::string& body,
                               const fs::path& configFolder) {
    std::vector<double> means;
    for (int batch = 0; batch < batches; ++batch) {
        removeBackups(configFolder);
        evaluateToJson(view, "runBench(" + std::to_string(perBatch) + ", " + body + "), true");
        spinUntil([&] { return evaluateToJson(view, "bench.done") == "true"; }, 120);
        means.push_back(std::stod(evaluateToJson(view, "bench.total")) / perBatch);
    }
    return means;
}

int apply(int count) {
    gtk_init();
    // On a memory file system where there is one, so that the disk's flushes do not drown the trip.
    std::string pattern = (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/tarvel-bench-XXXXXX");
    const fs::path root = mkdtemp(pattern.data());
    const fs::path home = root / "home";
    const fs::path config = home / ".config/karabiner/karabiner.json";
    fs::create_directories(config.parent_path());
    std::ofstream(config) << R"({"profiles": [{"name": "Default", "selected": true}]})";
    fs::create_directories(root / "resources/WebResources");
    std::ofstream(root / "resources/WebResources/index.html") << benchPage;

    auto coordinator = std::make_shared<KeymapWebView::Coordinator>(KeymapWebView::Coordinator::Services{
        .mainQueue = std::make_shared<GLibMainQueue>(),
        .collectInventory = nullptr,
        .linterPath = root / "no-linter",
        .homeDirectory = home,
    });
    GtkWidget* window = gtk_window_new();
    auto* view = WEBKIT_WEB_VIEW(KeymapWebViewGtk::makeView(coordinator, root / "resources"));
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view));
    gtk_window_present(GTK_WINDOW(window));
    spinUntil([&] { return !webkit_web_view_is_loading(view) && evaluateToJson(view, "typeof runBench") == "\"function\""; }, 60);

    const int batches = 10, perBatch = std::max(1, count / batches);
    roundTrips(view, 1, 20, R"({title: "bench", manipulators: []})", config.parent_path());  // warm-up
    const Summary apply = summarize(roundTrips(view, batches, perBatch, R"({title: "bench", manipulators: []})", config.parent_path()));
    const Summary malformed = summarize(roundTrips(view, batches, perBatch, R"({title: 1})", config.parent_path()));

    // The writer alone, on the same file, as the apply calls it.
    std::vector<double> writes;
    for (int batch = 0; batch < batches; ++batch) {
        removeBackups(config.parent_path());
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < perBatch; ++i) {
            (void)KarabinerWriter::apply("bench", Json::array(), config, FileManager::defaultManager());
        }
        writes.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count() / perBatch);
    }
    const Summary write = summarize(writes);

    std::printf("apply round trip, empty manipulator list (%d trips in %d batches): %.2f ms per trip (median of batch means)\n",
                perBatch * batches, batches, apply.median);
    std::printf("  the writer alone (backup + atomic rewrite of karabiner.json): %.2f ms per apply\n", write.median);
    // Without the writer the empty list's path is the malformed body's: shape check, answer, delivery.
    std::printf("round trip excluding the file write (same path, body refused before any file work; %d trips): "
                "%.3f ms per trip\n", perBatch * batches, malformed.median);

    gtk_window_destroy(GTK_WINDOW(window));
    fs::remove_all(root);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "start") return start(argc, argv, std::atoll(argv[2]));
    if (argc >= 3 && std::string(argv[1]) == "apply") return apply(std::atoi(argv[2]));
    std::fprintf(stderr, "usage: tarvel-host-bench start LAUNCH_NS | apply COUNT\n");
    return 2;
}
