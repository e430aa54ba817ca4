// Whether the window keeps drawing while the bridge works, printed for bench/responsiveness: the
// real KeymapWebView and coordinator (its own worker thread, this platform's inventory) in a window,
// a page that posts, and two watches on the main thread:
//   - loop gap: the longest time between two runs of a 1 ms timer of high priority, that is, the
//     longest the main loop was held by any one piece of work; beside it, the most CPU time the main
//     thread spent between two runs (on a loaded machine the wall time also holds waits for a core);
//   - frame gap: the longest time between two frames of the window (a tick callback keeps its frame
//     clock running).
// Scenarios: idle; one apply whose stand-in karabiner_cli takes 10 s; an inventory of 300 installed
// applications with icons; that inventory asked for every second while the 10 s apply runs (how
// long each answer took); 10,000 applies posted in one go by the page. For comparison: the page's
// own script busy for a second; the same 10,000 messages delivered and left unanswered (the engine's
// own share); and the first two with every answer worked out on the main thread, as before the worker.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "Apps/linux/InventoryCollector.h"
#include "Web/KeymapWebView.h"
#include "Web/linux/GLibMainQueue.h"
#include "Web/linux/KeymapWebViewGtk.h"
#include "XdgTree.h"

namespace fs = std::filesystem;
using namespace tarvel;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

// CPU time of the calling thread, in milliseconds.
double threadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The watches over the main loop.
class Watch {
public:
    explicit Watch(GtkWidget* window) : window_(window) {}

    void start() {
        loopGap_ = frameGap_ = busiest_ = 0;
        lastTimer_ = lastFrame_ = Clock::now();
        lastCpu_ = threadMilliseconds();
        timer_ = g_timeout_add_full(G_PRIORITY_HIGH, 1, &Watch::onTimer, this, nullptr);
        tick_ = gtk_widget_add_tick_callback(window_, &Watch::onTick, this, nullptr);
    }
    void stop() {
        g_source_remove(timer_);
        gtk_widget_remove_tick_callback(window_, tick_);
    }
    double loopGap() const { return loopGap_; }
    double frameGap() const { return frameGap_; }
    // The most CPU time the main thread spent between two runs of the timer: the gap that work made,
    // apart from time spent waiting for a core on a busy machine.
    double busiest() const { return busiest_; }

private:
    static gboolean onTimer(gpointer data) {
        auto* watch = static_cast<Watch*>(data);
        watch->loopGap_ = std::max(watch->loopGap_, millisecondsSince(watch->lastTimer_));
        watch->lastTimer_ = Clock::now();
        const double cpu = threadMilliseconds();
        watch->busiest_ = std::max(watch->busiest_, cpu - watch->lastCpu_);
        watch->lastCpu_ = cpu;
        return G_SOURCE_CONTINUE;
    }
    static gboolean onTick(GtkWidget*, GdkFrameClock*, gpointer data) {
        auto* watch = static_cast<Watch*>(data);
        watch->frameGap_ = std::max(watch->frameGap_, millisecondsSince(watch->lastFrame_));
        watch->lastFrame_ = Clock::now();
        return G_SOURCE_CONTINUE;
    }

    GtkWidget* window_;
    guint timer_ = 0, tick_ = 0;
    double loopGap_ = 0, frameGap_ = 0, busiest_ = 0, lastCpu_ = 0;
    Clock::time_point lastTimer_, lastFrame_;
};

void spinFor(double seconds) {
    bool done = false;
    g_timeout_add(static_cast<guint>(seconds * 1000), [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }, &done);
    while (!done) g_main_context_iteration(nullptr, TRUE);
}

std::string evaluate(WebKitWebView* view, const std::string& script) {
    struct Result {
        bool done = false;
        std::string json = "null";
    } result;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* async, gpointer data) {
            auto* result = static_cast<Result*>(data);
            if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), async, nullptr)) {
                char* json = jsc_value_to_json(value, 0);
                if (json) result->json = json;
                g_free(json);
                g_object_unref(value);
            }
            result->done = true;
        },
        &result);
    while (!result.done) g_main_context_iteration(nullptr, TRUE);
    return result.json;
}

// Checks `condition` in the page every 20 ms until it holds.
bool waitInPage(WebKitWebView* view, const std::string& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (evaluate(view, "!!(" + condition + ")") == "true") return true;
        spinFor(0.02);
    }
    return false;
}

const char* benchPage = R"(<!doctype html><meta charset="utf-8"><title>bench</title><script>
window.applyAnswers = [];
window.appsAnswers = [];
window.__tarvelApplyResolve = (v) => applyAnswers.push(v);
window.appsAsked = [];
window.appsLatencies = [];
window.__tarvelAppsResolve = (v) => {
    appsAnswers.push(v);
    appsLatencies.push(performance.now() - appsAsked.shift());
};
const post = (name, body) => window.webkit.messageHandlers[name].postMessage(body);
window.askApps = () => { appsAsked.push(performance.now()); post("tarvelApps", null); };
window.slowApply = () => post("tarvelApply", {title: "slow", manipulators: [{type: "basic", from: {key_code: "a"}}]});
// The inventory asked for once a second while an apply's linter runs.
window.appsWhileLinting = (count) => {
    applyAnswers = [];
    appsLatencies = [];
    slowApply();
    for (let i = 0; i < count; ++i) setTimeout(askApps, 500 + 1000 * i);
};
window.latencies = () => {
    const sorted = appsLatencies.slice().sort((a, b) => a - b);
    return sorted.length ? `median ${sorted[sorted.length >> 1].toFixed(0)} ms, longest ${sorted[sorted.length - 1].toFixed(0)} ms` : "none";
};
// Every fourth apply is malformed: the pattern of the answers shows their order.
window.postMany = (count) => {
    applyAnswers = [];
    for (let i = 0; i < count; ++i) post("tarvelApply", i % 4 === 0 ? {title: i} : {title: "bench " + i, manipulators: []});
};
window.manyInOrder = (count) => applyAnswers.length === count &&
    applyAnswers.every((a, i) => a.ok === (i % 4 !== 0) && (a.ok ? "backupPath" in a : a.error.startsWith("malformed")));
</script>)";

struct Figures {
    double seconds, loopGap, busiest, frameGap, mainCpu;
};

void print(const char* what, const Figures& f, const std::string& note = {}) {
    std::printf("%-42s %6.2f s | main thread CPU %6.0f ms | loop gap %6.1f ms (CPU %5.1f ms) | frame gap %7.1f ms%s%s\n", what,
                f.seconds, f.mainCpu, f.loopGap, f.busiest, f.frameGap, note.empty() ? "" : " | ", note.c_str());
    std::fflush(stdout);
}

// Runs `begin`, then watches until `done` holds in the page.
Figures measure(Watch& watch, WebKitWebView* view, const std::function<void()>& begin, const std::string& done, double limit) {
    watch.start();
    const auto started = Clock::now();
    const double cpu = threadMilliseconds();
    begin();
    const bool finished = waitInPage(view, done, limit);
    const double seconds = millisecondsSince(started) / 1000;
    watch.stop();
    if (!finished) std::printf("  (did not finish within %.0f s)\n", limit);
    return {seconds, watch.loopGap(), watch.busiest(), watch.frameGap(), threadMilliseconds() - cpu};
}

} // namespace

int main(int argc, char** argv) {
    const int applications = argc > 1 ? std::atoi(argv[1]) : 300;
    const int applies = argc > 2 ? std::atoi(argv[2]) : 10000;

    // The installed applications, each with its own 48-pixel PNG icon, before GTK reads the folders.
    testing::XdgTree tree;
    tree.exportEnvironment();
    const fs::path entries = tree.dataHome() / "applications";
    for (int i = 0; i < applications; ++i) {
        const std::string id = "org.bench.App" + std::to_string(i);
        tree.entry(entries, id + ".desktop", "Application " + std::to_string(i), "Icon=" + id + "\n");
        tree.pngIcon(id, 48, 48, [i](int x, int y, int w, int h) {
            const double r = std::hypot(x - w / 2.0, y - h / 2.0) / w;
            return testing::Rgba{static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(255 * (1 - r)), 128,
                                 static_cast<std::uint8_t>(r < 0.46 ? 255 : 0)};
        });
    }
    gtk_init();

    // karabiner.json on a memory file system, so that 10,000 writes measure the bridge, not the disk.
    std::string pattern = (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/tarvel-responsiveness-XXXXXX");
    const fs::path root = mkdtemp(pattern.data());
    const fs::path home = root / "home", config = home / ".config/karabiner/karabiner.json";
    fs::create_directories(config.parent_path());
    std::ofstream(config) << R"({"profiles": [{"name": "Default", "selected": true}]})";
    fs::create_directories(root / "resources/WebResources");
    std::ofstream(root / "resources/WebResources/index.html") << benchPage;
    const fs::path linter = root / "karabiner_cli";
    std::ofstream(linter) << "#!/bin/sh\nsleep 10\nexit 0\n";
    fs::permissions(linter, fs::perms::owner_all);

    auto coordinator = std::make_shared<KeymapWebView::Coordinator>(KeymapWebView::Coordinator::Services{
        .mainQueue = std::make_shared<GLibMainQueue>(),
        .collectInventory = makeInventoryCollector(),
        .linterPath = linter,
        .homeDirectory = home,
    });
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 900, 640);
    auto* view = WEBKIT_WEB_VIEW(KeymapWebViewGtk::makeView(coordinator, root / "resources"));
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view));
    gtk_window_present(GTK_WINDOW(window));
    if (!waitInPage(view, "typeof postMany === 'function'", 60)) {
        std::fprintf(stderr, "the bench page did not load\n");
        return 1;
    }
    spinFor(1);

    Watch watch(window);
    print("idle, 2 s", measure(watch, view, [] { spinFor(2); }, "true", 2));

    const Figures lint = measure(
        watch, view,
        [&] { evaluate(view, "slowApply(), true"); }, "applyAnswers.length === 1", 60);
    print("apply, stand-in karabiner_cli taking 10 s", lint, "answer: " + evaluate(view, "JSON.stringify(applyAnswers[0])"));

    const Figures inventory = measure(watch, view, [&] { evaluate(view, "askApps(), true"); }, "appsAnswers.length === 1", 120);
    print(("inventory, " + std::to_string(applications) + " installed applications").c_str(), inventory,
          "installed: " + evaluate(view, "appsAnswers[0] && appsAnswers[0].installed.length") + ", with icons: " +
              evaluate(view, "appsAnswers[0] && appsAnswers[0].installed.filter((r) => r.icon).length"));

    // Reading must not wait behind the linter: each answer's time from its request.
    const Figures reading = measure(
        watch, view, [&] { evaluate(view, "appsWhileLinting(8), true"); }, "appsLatencies.length === 8 && applyAnswers.length === 1", 120);
    print("inventory every 1 s during the 10 s apply", reading, "inventory answers: " + evaluate(view, "latencies()"));

    const std::string count = std::to_string(applies);
    const Figures many = measure(
        watch, view, [&] { evaluate(view, "postMany(" + count + "), true"); }, "applyAnswers.length >= " + count, 600);
    spinFor(0.5);  // any answer beyond the count would arrive now
    print((count + " applies posted at once").c_str(), many,
          "answered: " + evaluate(view, "applyAnswers.length") + ", each once and in order: " +
              evaluate(view, "manyInOrder(" + count + ")"));

    // Reference: the page itself busy for a second (no message at all). The window's frames wait
    // for the page's, so this is what a page that is busy posting costs the frames by itself.
    print("reference: the page's own script busy 1 s",
          measure(watch, view,
                  [&] {
                      evaluate(view, "setTimeout(() => { const t = performance.now(); while (performance.now() - t < 1000) {} "
                                     "window.busyDone = true; }, 0), true");
                  },
                  "window.busyDone", 10));

    // A view over another coordinator, for the comparisons below.
    auto replaceView = [&](std::shared_ptr<WorkQueue> queue) {
        auto other = std::make_shared<KeymapWebView::Coordinator>(KeymapWebView::Coordinator::Services{
            .mainQueue = std::make_shared<GLibMainQueue>(),
            .workQueue = std::move(queue),
            .collectInventory = makeInventoryCollector(),
            .linterPath = linter,
            .homeDirectory = home,
        });
        view = WEBKIT_WEB_VIEW(KeymapWebViewGtk::makeView(other, root / "resources"));
        gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(view));
        waitInPage(view, "typeof postMany === 'function'", 60);
        spinFor(1);
        return other;
    };

    // The same flood into a view whose coordinator never answers: what the engine's delivery of the
    // page's messages costs the window by itself.
    struct Nowhere : WorkQueue {
        void async(std::function<void()>) override {}
    };
    auto silent = replaceView(std::make_shared<Nowhere>());
    print((count + " applies posted, none answered").c_str(),
          measure(watch, view, [&] { evaluate(view, "postMany(" + count + "), true"); spinFor(3); }, "true", 1));

    // As before the worker: every answer worked out on the main thread, inside the message callback.
    struct Inline : WorkQueue {
        void async(std::function<void()> work) override { work(); }
    };
    auto inlined = replaceView(std::make_shared<Inline>());
    print("on the main thread: the 10 s apply",
          measure(watch, view,
                  [&] { evaluate(view, "slowApply(), true"); },
                  "applyAnswers.length === 1", 60));
    print("on the main thread: the inventory",
          measure(watch, view, [&] { evaluate(view, "askApps(), true"); }, "appsAnswers.length === 1", 120));

    gtk_window_destroy(GTK_WINDOW(window));
    inlined.reset();
    silent.reset();
    coordinator.reset();
    fs::remove_all(root);
    return 0;
}
