#pragma once
// The bridge as the page sees it: a coordinator over a temporary home with a stand-in
// karabiner_cli, a main queue that runs only when the test says so, and a page that records
// every script it is asked to evaluate.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "Platform/MainQueue.h"
#include "Platform/WorkQueue.h"
#include "TestSupport.h"
#include "Web/KeymapWebView.h"
#include "Web/WebPage.h"

namespace tarvel::test {

namespace fs = std::filesystem;

// Runs queued work only when the test says so, on the test's own thread.
class ManualWorkQueue : public WorkQueue {
public:
    void async(std::function<void()> work) override { pending.push_back(std::move(work)); }
    void runAll() {
        while (!pending.empty()) {
            auto work = std::move(pending.front());
            pending.pop_front();
            work();
        }
    }
    std::deque<std::function<void()>> pending;
};

// Runs posted work only when the test says so, like a main loop between callbacks. With a worker
// attached, runAll() lets the worker finish what it has first, as time would.
class ManualMainQueue : public MainQueue {
public:
    void async(std::function<void()> work) override { pending.push_back(std::move(work)); }
    void runAll() {
        while ((worker && !worker->pending.empty()) || !pending.empty()) {
            if (worker) worker->runAll();
            runPosted();
        }
    }
    // Only what was posted here so far.
    void runPosted() {
        for (auto count = pending.size(); count > 0 && !pending.empty(); --count) {
            auto work = std::move(pending.front());
            pending.pop_front();
            work();
        }
    }
    std::deque<std::function<void()>> pending;
    std::shared_ptr<ManualWorkQueue> worker;
};

class RecordingPage : public WebPage {
public:
    void evaluateJavaScript(const std::string& script) override { scripts.push_back(script); }
    std::string documentURL() const override { return url; }
    std::vector<std::string> scripts;
    std::string url{KeymapWebView::pageAddress};
};

class CoordinatorTest : public ::testing::Test {
protected:
    CoordinatorTest() {
        writeFile(config(), R"({"profiles": [{"name": "Default", "selected": true}]})");
        coordinator.webView = page;
    }

    // The services of a coordinator driven by the test's queues.
    KeymapWebView::Coordinator::Services services() {
        return {.mainQueue = queue,
                .workQueue = work,
                .collectInventory = [this] { ++inventoryRequests; return inventory; },
                .linterPath = tools / "karabiner_cli",
                .homeDirectory = home.path()};
    }

    fs::path config() const { return home / ".config/karabiner/karabiner.json"; }
    fs::path linterRuns() const { return tools / "runs"; }

    // A stand-in karabiner_cli that notes each run and then behaves as `body` says.
    void useLinter(const std::string& body) {
        writeTool(tools / "karabiner_cli", "echo run >> '" + linterRuns().string() + "'\n" + body);
    }

    void post(std::string_view name, const Json& body) {
        coordinator.userContentControllerDidReceive(name, body.dump(), KeymapWebView::pageAddress);
    }

    // The values the page's resolve functions received, once the main loop has run.
    std::vector<Json> answers(std::string_view start) {
        queue->runAll();
        std::vector<Json> values;
        for (const auto& script : page->scripts) {
            if (script.rfind(start, 0) != 0) continue;
            EXPECT_EQ(script.back(), ')');
            values.push_back(Json::parse(script.substr(start.size(), script.size() - start.size() - 1)));
        }
        return values;
    }
    std::vector<Json> applyAnswers() { return answers(KeymapWebView::Coordinator::applyAnswerStart); }

    static Json applyBody(const std::string& title, Json manipulators) {
        return {{"title", title}, {"manipulators", std::move(manipulators)}};
    }
    static Json someManipulators() { return Json::parse(R"([{"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "escape"}]}])"); }

    TemporaryDirectory home;
    TemporaryDirectory tools;
    std::shared_ptr<ManualWorkQueue> work = std::make_shared<ManualWorkQueue>();
    std::shared_ptr<ManualMainQueue> queue = [this] {
        auto main = std::make_shared<ManualMainQueue>();
        main->worker = work;
        return main;
    }();
    std::shared_ptr<RecordingPage> page = std::make_shared<RecordingPage>();
    AppInventoryPayload inventory;
    int inventoryRequests = 0;
    KeymapWebView::Coordinator coordinator{services()};
};

} // namespace tarvel::test
