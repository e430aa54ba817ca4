#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "Web/BridgeFixture.h"
#include "WatchFakes.h"

namespace tarvel {
namespace {

using test::CoordinatorTest;
using test::ManualMainQueue;
using test::RecordingPage;
namespace fs = std::filesystem;

using test::listing;
using test::readFile;
using test::writeFile;

TEST_F(CoordinatorTest, ASuccessfulApplyAnswersWithExactlyOkAndTheBackupPath) {
    useLinter("exit 0");
    post("tarvelApply", applyBody("Caps", someManipulators()));
    EXPECT_TRUE(page->scripts.empty()) << "answers are delivered only after the callback returns";

    auto values = applyAnswers();
    ASSERT_EQ(values.size(), 1u);
    ASSERT_EQ(values[0].size(), 2u);
    EXPECT_EQ(values[0]["ok"], true);
    const std::string backup = values[0]["backupPath"];
    EXPECT_EQ(fs::path(backup).parent_path(), config().parent_path());
    EXPECT_EQ(Json::parse(readFile(backup)), Json::parse(R"({"profiles": [{"name": "Default", "selected": true}]})"));
    EXPECT_EQ(Json::parse(readFile(config()))["profiles"][0]["complex_modifications"]["rules"][0]["description"], "[Tarvel] Caps");
    EXPECT_EQ(readFile(linterRuns()), "run\n");
}

TEST_F(CoordinatorTest, EmptyRuleSetsSkipTheLinterAndExtraKeysAreIgnored) {
    useLinter("exit 1");
    post("tarvelApply", Json({{"title", ""}, {"manipulators", Json::array()}, {"extra", {{"x", 1}}}}));
    auto values = applyAnswers();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0]["ok"], true);
    EXPECT_FALSE(fs::exists(linterRuns()));
    EXPECT_EQ(Json::parse(readFile(config()))["profiles"][0]["complex_modifications"]["rules"], Json::array());
}

TEST_F(CoordinatorTest, ALintRefusalOrAWriterFailureAnswersWithExactlyOkItsTextAndCodeAndWritesNothing) {
    useLinter("echo '`rule 1` error: `type` must be specified'; exit 1");
    const std::string before = readFile(config());
    const auto filesBefore = listing(config().parent_path());
    post("tarvelApply", applyBody("t", someManipulators()));
    queue->runAll();
    EXPECT_EQ(readFile(config()), before);
    EXPECT_EQ(listing(config().parent_path()), filesBefore);

    fs::remove(config());
    post("tarvelApply", applyBody("t", Json::array()));
    auto values = applyAnswers();
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], Json({{"ok", false}, {"error", "ルールを検証できませんでした: `rule 1` error: `type` must be specified\n"}, {"code", "lint"}}));
    EXPECT_EQ(values[1], Json({{"ok", false}, {"error", "karabiner.json not found at " + config().string()}, {"code", "notFound"}}));
}

TEST_F(CoordinatorTest, OnlyTheExactNamesPostedByTheEditorsOwnDocumentsAreAnswered) {
    for (const char* name : {"TarvelApply", "tarvelapply", "tarvelApps ", "TARVELAPPS", "", "other"})
        post(name, applyBody("t", Json::array()));
    for (const char* document : {"file:///tmp/evil.html", "tarvelresource://evil/index.html", "about:blank", ""}) {
        coordinator.userContentControllerDidReceive("tarvelApply", applyBody("t", Json::array()).dump(), document);
        coordinator.userContentControllerDidReceive("tarvelApps", "", document);
    }
    queue->runAll();
    EXPECT_TRUE(page->scripts.empty());
    EXPECT_EQ(inventoryRequests, 0);
    EXPECT_EQ(listing(config().parent_path()).size(), 1u) << "nothing backed up or written";
}

TEST_F(CoordinatorTest, BodiesTooLargeOrTooDeepAreRefusedBeforeTheyAreParsed) {
    useLinter("exit 0");
    // The body object, the list and the manipulator are three levels of their own.
    auto nested = [](std::size_t depth) {
        return R"({"title": "t", "manipulators": [{"x": )" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
    };
    const std::string tooDeep(KeymapWebView::Coordinator::bodyTooDeepMessage), tooLarge(KeymapWebView::Coordinator::bodyTooLargeMessage);
    const struct {
        std::string body;
        Json expected;  // null: accepted
    } cases[] = {
        {nested(62), {{"ok", false}, {"error", tooDeep}, {"code", "tooDeep"}}},
        {nested(100000), {{"ok", false}, {"error", tooDeep}, {"code", "tooDeep"}}},
        {R"({"title": ")" + std::string(8 * 1024 * 1024, 'x') + R"(", "manipulators": []})",
         {{"ok", false}, {"error", tooLarge}, {"code", "tooLarge"}}},
        {"{not json", {{"ok", false}, {"error", "malformed apply message from the web view"}, {"code", "malformed"}}},
        {nested(61), nullptr},
    };
    for (const auto& c : cases) coordinator.userContentControllerDidReceive("tarvelApply", c.body, KeymapWebView::pageAddress);
    // The inventory never looks at its body, whatever it is.
    coordinator.userContentControllerDidReceive("tarvelApps", nested(100000), KeymapWebView::pageAddress);
    auto values = applyAnswers();
    ASSERT_EQ(values.size(), std::size(cases));
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (cases[i].expected.is_null()) EXPECT_EQ(values[i]["ok"], true) << i;
        else EXPECT_EQ(values[i], cases[i].expected) << i;
    }
    EXPECT_EQ(answers(KeymapWebView::Coordinator::appsAnswerStart).size(), 1u);
    EXPECT_EQ(readFile(linterRuns()), "run\n") << "only the body at the limit was linted";
}

TEST_F(CoordinatorTest, NothingRunsInTheCallbackAndAnswersKeepTheOrderOfTheRequests) {
    useLinter("exit 0");
    const std::string before = readFile(config());
    post("tarvelApply", applyBody("first", someManipulators()));
    // Refused for its size alone, yet answered in its turn.
    coordinator.userContentControllerDidReceive("tarvelApply", std::string(KeymapWebView::Coordinator::maxBodyBytes + 1, ' '),
                                                KeymapWebView::pageAddress);
    post("tarvelApps", Json());
    post("tarvelApply", Json("malformed"));
    post("tarvelApply", applyBody("fifth", Json::array()));
    EXPECT_EQ(work->pending.size(), 5u);
    EXPECT_FALSE(fs::exists(linterRuns()));
    EXPECT_EQ(inventoryRequests, 0);
    EXPECT_EQ(readFile(config()), before);

    queue->runAll();
    ASSERT_EQ(page->scripts.size(), 5u);
    EXPECT_NE(page->scripts[0].find("\"backupPath\""), std::string::npos);
    EXPECT_NE(page->scripts[1].find("tooLarge"), std::string::npos);
    EXPECT_EQ(page->scripts[2].rfind(KeymapWebView::Coordinator::appsAnswerStart, 0), 0u);
    EXPECT_NE(page->scripts[3].find("malformed"), std::string::npos);
    EXPECT_NE(page->scripts[4].find("\"backupPath\""), std::string::npos);
}

TEST_F(CoordinatorTest, AnAnswerFunctionThatThrowsIsStillAnsweredOnce) {
    struct ThrowingFiles : PosixFileManager {
        std::optional<Error> copyItem(const fs::path&, const fs::path&) override { throw 42; }
        std::optional<Error> linkItem(const fs::path&, const fs::path&) override { throw 42; }
    } files;
    auto services = this->services();
    services.fileManager = &files;
    services.collectInventory = []() -> AppInventoryPayload { throw 7; };
    KeymapWebView::Coordinator throwing(services);
    throwing.webView = page;
    throwing.userContentControllerDidReceive("tarvelApply", applyBody("t", Json::array()).dump(), KeymapWebView::pageAddress);
    throwing.userContentControllerDidReceive("tarvelApps", "", KeymapWebView::pageAddress);
    queue->runAll();
    EXPECT_EQ(page->scripts,
              (std::vector<std::string>{
                  R"(window.__tarvelApplyResolve && window.__tarvelApplyResolve({"code":"internalError","error":"Tarvel could not answer this request","ok":false}))",
                  "window.__tarvelAppsResolve && window.__tarvelAppsResolve(null)"}));
}

TEST_F(CoordinatorTest, AnswersToAnEarlierDocumentNeverReachTheNextOne) {
    useLinter("exit 0");
    post("tarvelApply", applyBody("asked by the old page", someManipulators()));
    coordinator.documentChanged();  // reloaded before the answer came
    post("tarvelApps", Json());
    queue->runAll();
    ASSERT_EQ(page->scripts.size(), 1u);
    EXPECT_EQ(page->scripts[0].rfind(KeymapWebView::Coordinator::appsAnswerStart, 0), 0u);
    // The apply itself was done: the user asked for it.
    EXPECT_EQ(Json::parse(readFile(config()))["profiles"][0]["complex_modifications"]["rules"][0]["description"],
              "[Tarvel] asked by the old page");
}

TEST_F(CoordinatorTest, AChangeOfKarabinerJsonOnDiskIsPushedOnceToTheEditorsPageOnlyAfterItSettles) {
    auto monitor = std::make_shared<test::FakeFolderMonitor>();
    auto timer = std::make_shared<test::FakeTimer>();
    auto services = this->services();
    services.folderMonitor = monitor;
    services.watchTimer = timer;
    auto watching = std::make_unique<KeymapWebView::Coordinator>(services);
    watching->webView = page;
    timer->runAll();  // the watches are made
    const fs::path folder = fs::canonical(config().parent_path());
    auto saveByRename = [&] {
        for (const char* entry : {"karabiner.json.tmp", "karabiner.json", "karabiner.json"}) monitor->change(folder, entry);
    };
    const std::vector<std::string> pushed{std::string(KeymapWebView::Coordinator::configChangedScript)};

    saveByRename();
    queue->runAll();
    EXPECT_TRUE(page->scripts.empty()) << "nothing before the changes settle";
    timer->runAll();
    EXPECT_TRUE(page->scripts.empty()) << "only through the main queue";
    queue->runAll();
    EXPECT_EQ(page->scripts, pushed);

    // Never to another document; never once the coordinator is gone.
    page->url = "about:blank";
    saveByRename();
    timer->runAll();
    queue->runAll();
    page->url = KeymapWebView::pageAddress;
    saveByRename();
    timer->runAll();
    watching.reset();
    queue->runAll();
    EXPECT_EQ(page->scripts, pushed);
}

// A main queue that other threads post to, run by the test's thread.
class ThreadedMainQueue : public MainQueue {
public:
    void async(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    // Runs what was posted until `done` holds or `seconds` pass.
    bool runUntil(const std::function<bool()>& done, double seconds = 30) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            std::deque<std::function<void()>> batch;
            {
                std::lock_guard lock(mutex_);
                batch.swap(pending_);
            }
            for (auto& work : batch) work();
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (batch.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
};

// Names have queues of their own, so the order holds within each name.
TEST_F(CoordinatorTest, OnItsOwnQueuesEveryRequestIsAnsweredOnceInOrderOfItsNameOffTheMainThread) {
    auto main = std::make_shared<ThreadedMainQueue>();
    auto services = this->services();
    services.mainQueue = main;
    services.workQueue = nullptr;
    std::atomic<int> collectedOnMainThread{0};
    const auto mainThread = std::this_thread::get_id();
    services.collectInventory = [&] {
        if (std::this_thread::get_id() == mainThread) ++collectedOnMainThread;
        return AppInventoryPayload{};
    };
    auto threaded = std::make_unique<KeymapWebView::Coordinator>(services);
    threaded->webView = page;

    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        if (i % 3 == 0) {
            threaded->userContentControllerDidReceive("tarvelApps", "", KeymapWebView::pageAddress);
            expected.push_back("apps");
        } else if (i % 50 == 1) {
            threaded->userContentControllerDidReceive("tarvelApply", applyBody("t", Json::array()).dump(), KeymapWebView::pageAddress);
            expected.push_back("written");
        } else {
            threaded->userContentControllerDidReceive("tarvelApply", std::to_string(i), KeymapWebView::pageAddress);
            expected.push_back("malformed");
        }
    }
    ASSERT_TRUE(main->runUntil([&] { return page->scripts.size() >= expected.size(); }));
    main->runUntil([] { return false; }, 0.2);  // nothing more comes
    std::vector<std::string> received;
    for (const auto& script : page->scripts)
        received.push_back(script.rfind(KeymapWebView::Coordinator::appsAnswerStart, 0) == 0 ? "apps"
                           : script.find("backupPath") != std::string::npos             ? "written"
                                                                                        : "malformed");
    auto applies = [](std::vector<std::string> answers) {
        std::erase(answers, "apps");
        return answers;
    };
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_EQ(std::count(received.begin(), received.end(), "apps"), std::count(expected.begin(), expected.end(), "apps"));
    EXPECT_EQ(applies(received), applies(expected));
    EXPECT_EQ(collectedOnMainThread, 0);
}

TEST_F(CoordinatorTest, ClosingEndsARunningLinterAtOnceAndDropsWhatWaits) {
    const fs::path pid = tools / "pid";
    useLinter("echo $$ > '" + pid.string() + "'; sleep 60");
    const std::string before = readFile(config());
    auto main = std::make_shared<ThreadedMainQueue>();
    auto services = this->services();
    services.mainQueue = main;
    services.workQueue = nullptr;  // its own worker, with the product's 30-second linter limit
    auto closing = std::make_unique<KeymapWebView::Coordinator>(services);
    closing->webView = page;
    closing->userContentControllerDidReceive("tarvelApply", applyBody("first", someManipulators()).dump(), KeymapWebView::pageAddress);
    closing->userContentControllerDidReceive("tarvelApply", applyBody("second", someManipulators()).dump(), KeymapWebView::pageAddress);
    ASSERT_TRUE(main->runUntil([&] { return !readFile(pid).empty(); }, 10)) << "the linter never started";

    const auto started = std::chrono::steady_clock::now();
    closing.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    main->runUntil([] { return false; }, 0.3);
    EXPECT_TRUE(page->scripts.empty()) << "nothing reaches the page after its coordinator is gone";
    EXPECT_NE(::kill(std::stoi(readFile(pid)), 0), 0) << "the linter still runs";
    EXPECT_EQ(readFile(linterRuns()), "run\n") << "the second apply never started";
    EXPECT_EQ(readFile(config()), before);
    EXPECT_EQ(listing(config().parent_path()).size(), 1u);
}

// Reading never waits behind a lint or a write: with the linter hung, the inventory and the
// configuration are answered at once, while the next write keeps its turn behind the lint.
TEST_F(CoordinatorTest, AHungLinterHoldsNeitherTheInventoryNorTheConfiguration) {
    const fs::path pid = tools / "pid";
    useLinter("echo $$ > '" + pid.string() + "'; sleep 60");
    auto main = std::make_shared<ThreadedMainQueue>();
    auto services = this->services();
    services.mainQueue = main;
    services.workQueue = nullptr;  // its own queues, with the product's 30-second linter limit
    auto coordinator = std::make_unique<KeymapWebView::Coordinator>(services);
    coordinator->webView = page;
    auto send = [&](std::string_view name, const Json& body) {
        coordinator->userContentControllerDidReceive(name, body.dump(), KeymapWebView::pageAddress);
    };
    send("tarvelApply", applyBody("hangs", someManipulators()));
    ASSERT_TRUE(main->runUntil([&] { return !readFile(pid).empty(); }, 10)) << "the linter never started";
    send("tarvelRestore", Json::object());

    const auto asked = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        send("tarvelApps", Json());
        send("tarvelConfig", Json());
    }
    EXPECT_TRUE(main->runUntil([&] { return page->scripts.size() >= 6; }, 1)) << "reading waited behind the lint";
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    main->runUntil([] { return false; }, 0.1);
    std::map<std::string, int> answered;
    for (const auto& script : page->scripts) answered[script.substr(0, script.find(" &&"))]++;
    EXPECT_EQ(answered, (std::map<std::string, int>{{"window.__tarvelAppsResolve", 3}, {"window.__tarvelConfigResolve", 3}}));

    const auto closing = std::chrono::steady_clock::now();
    coordinator.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
    main->runUntil([] { return false; }, 0.3);
    EXPECT_EQ(page->scripts.size(), 6u) << "nothing reaches the page after its coordinator is gone";
    EXPECT_NE(::kill(std::stoi(readFile(pid)), 0), 0) << "the linter still runs";
}

TEST_F(CoordinatorTest, AnAnswerForAPageThatIsGoneIsDropped) {
    post("tarvelApply", applyBody("t", Json::array()));
    post("tarvelApps", Json());
    std::weak_ptr<RecordingPage> watch = page;
    page.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_NO_FATAL_FAILURE(queue->runAll());
    EXPECT_EQ(queue->pending.size(), 0u);
}

TEST_F(CoordinatorTest, EveryInventoryRequestIsCollectedAfreshAndAnsweredOnce) {
    post("tarvelApps", Json());  // nothing found on this machine
    work->runAll();  // collected when its turn comes
    inventory.shortcuts = {"Evening"};
    inventory.helperPath = "/opt/tarvel/bin/tarvel-focus";
    post("tarvelApps", Json({{"any", "body"}}));
    auto values = answers(KeymapWebView::Coordinator::appsAnswerStart);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(inventoryRequests, 2);
    EXPECT_EQ(values[0].dump(), R"({"installed":[],"running":[],"shortcuts":[]})");
    EXPECT_EQ(values[1]["shortcuts"], Json::array({"Evening"}));
    EXPECT_EQ(values[1]["helperPath"], "/opt/tarvel/bin/tarvel-focus");
}

TEST_F(CoordinatorTest, AnInventoryThatCannotBeEncodedIsAnsweredWithNull) {
    inventory.running = {AppRecord{.name = std::string("\xff broken"), .running = true}};
    post("tarvelApps", Json());
    queue->runAll();
    EXPECT_EQ(page->scripts, std::vector<std::string>{"window.__tarvelAppsResolve && window.__tarvelAppsResolve(null)"});
}

TEST(Downloads, AnExistingNameGetsTheFirstFreeNumberBeforeTheLastExtension) {
    test::TemporaryDirectory dir;
    const struct {
        const char* suggested;
        std::vector<std::string> existing;  // a trailing "/" makes a folder, "@" a dangling link
        const char* saved;
    } cases[] = {
        {"keymap.json", {}, "keymap.json"},
        {"keymap.json", {"keymap.json"}, "keymap 2.json"},
        {"keymap.json", {"keymap.json", "keymap 2.json"}, "keymap 3.json"},
        {"notes", {"notes"}, "notes 2"},
        {"archive.tar.gz", {"archive.tar.gz"}, "archive.tar 2.gz"},
        {"keymap.json", {"keymap.json/"}, "keymap 2.json"},
        {"../../escape.json", {}, "escape.json"},  // the page names the file, never the folder
        {"keymap.json", {"keymap.json@"}, "keymap 2.json"},  // a link leading nowhere is taken too
    };
    for (const auto& c : cases) {
        const fs::path folder = dir / std::to_string(&c - cases);
        fs::create_directories(folder);
        for (std::string name : c.existing) {
            if (name.back() == '/') fs::create_directories(folder / name);
            else if (name.back() == '@') fs::create_symlink(folder / "nowhere", folder / name.substr(0, name.size() - 1));
            else writeFile(folder / name, "");
        }
        EXPECT_EQ(KeymapWebView::Coordinator::uniqueDestination(c.suggested, folder), folder / c.saved) << c.suggested;
    }
    EXPECT_EQ(KeymapWebView::Coordinator::downloadsFolder(std::nullopt, "/home/u"), "/home/u");
    EXPECT_EQ(KeymapWebView::Coordinator::downloadsFolder("Downloads", "/home/u"), "/home/u/Downloads");
}

// Runs the answer scripts in a real JavaScript engine and returns what the page's functions received.
Json receivedByPage(const std::vector<std::string>& scripts) {
    test::TemporaryDirectory dir;
    std::string program =
        "const received = [];\n"
        "globalThis.window = { __tarvelApplyResolve: v => received.push(v), __tarvelAppsResolve: v => received.push(v) };\n";
    for (const auto& script : scripts) program += script + "\n";
    program += "process.stdout.write(JSON.stringify(received));\n";
    writeFile(dir / "page.js", program);

    std::string command = "node '" + (dir / "page.js").string() + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return nullptr;
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    if (::pclose(pipe) != 0) {
        ADD_FAILURE() << "node failed: " << output;
        return nullptr;
    }
    return Json::parse(output);
}

TEST_F(CoordinatorTest, AnswersReachTheScriptEngineAsDataNeverAsCode) {
    const std::string hostile = "quote \" apostrophe ' backslash \\ \\\" newline \n cr \r tab \t "
                                "ls \u2028 ps \u2029 </script><script>alert(1)</script> ${x} `tick` "
                                "日本語 かな 😀 ) ; window.__tarvelApplyResolve(\"forged\"); //";
    writeFile(tools / "message.txt", hostile);
    useLinter("cat '" + (tools / "message.txt").string() + "'; exit 1");
    post("tarvelApply", applyBody("t", someManipulators()));

    inventory.installed = {AppRecord{.name = hostile, .bundleId = hostile, .path = hostile, .launchable = true}};
    inventory.shortcuts = {hostile};
    post("tarvelApps", Json());
    queue->runAll();
    ASSERT_EQ(page->scripts.size(), 2u);
    for (const auto& script : page->scripts) EXPECT_EQ(script.find('\n'), std::string::npos);

    Json received = receivedByPage(page->scripts);
    ASSERT_TRUE(received.is_array()) << received;
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], Json({{"ok", false}, {"error", "ルールを検証できませんでした: " + hostile}, {"code", "lint"}}));
    EXPECT_EQ(received[1]["installed"][0]["name"], hostile);
    EXPECT_EQ(received[1]["shortcuts"][0], hostile);

    // A page without the resolve functions raises no error.
    page->scripts.push_back("delete window.__tarvelApplyResolve; delete window.__tarvelAppsResolve;");
    page->scripts.push_back(page->scripts[0]);
    EXPECT_EQ(receivedByPage(page->scripts).size(), 2u);
}

// Random JSON values, deep chains, huge strings, and apply-shaped bodies with wrong types at any level.
class RandomBodies {
public:
    explicit RandomBodies(std::uint32_t seed) : random_(seed) {}
    Json body() {
        const std::size_t kind = pick(6);
        return kind == 0 ? value(pick(8)) : applyShaped(kind != 1);
    }

private:
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

    std::string text() {
        static const std::string alphabet[] = {"a", "Z", "0", " ", "\"", "\\", "\n", "日", "😀", "\u2028", "{", "</script>", "\x7f"};
        std::string s;
        for (std::size_t i = 0, n = pick(24); i < n; ++i) s += alphabet[pick(std::size(alphabet))];
        if (pick(400) == 0)  // a huge one: the short piece repeated
            for (const std::string piece = s.empty() ? "x" : s; s.size() < 100000;) s += piece;
        return s;
    }

    Json scalar() {
        switch (pick(7)) {
        case 0: return nullptr;
        case 1: return pick(2) == 0;
        case 2: return static_cast<std::int64_t>(random_()) - 2147483648LL;
        case 3: return std::uniform_real_distribution<double>(-1e300, 1e300)(random_);
        case 4: return 0.5;
        default: return text();
        }
    }

    Json value(std::size_t depth) {
        if (depth == 0 || pick(4) == 0) return scalar();
        if (pick(40) == 0) {  // a chain of 100 to 600 containers
            Json deep = scalar();
            for (std::size_t i = 0, n = 100 + pick(500); i < n; ++i) {
                Json wrapper = pick(2) ? Json::array() : Json::object();
                if (wrapper.is_array()) wrapper.push_back(std::move(deep));
                else wrapper["k"] = std::move(deep);
                deep = std::move(wrapper);
            }
            return deep;
        }
        Json container = pick(2) ? Json::array() : Json::object();
        for (std::size_t i = 0, n = pick(6); i < n; ++i) {
            if (container.is_array()) container.push_back(value(depth - 1));
            else container[text()] = value(depth - 1);
        }
        return container;
    }

    Json applyShaped(bool wellTyped) {
        Json body = Json::object();
        if (pick(10)) body["title"] = wellTyped && pick(8) ? Json(text()) : value(2);
        if (pick(10)) {
            Json list = Json::array();
            for (std::size_t i = 0, n = pick(5); i < n; ++i) {
                Json m = wellTyped && pick(10) ? Json::object() : value(3);
                for (std::size_t k = 0, keys = m.is_object() ? pick(4) : 0; k < keys; ++k) m[text()] = value(4);
                list.push_back(std::move(m));
            }
            body["manipulators"] = wellTyped && pick(10) ? std::move(list) : value(3);
        }
        for (std::size_t k = 0, extra = pick(3); k < extra; ++k) body[text()] = value(3);
        return body;
    }

    std::mt19937 random_;
};

// Anything the page could post is answered exactly once per request, and nothing crashes or throws.
TEST_F(CoordinatorTest, TenThousandRandomBodiesAreEachAnsweredExactlyOnce) {
    // Most applies stop at the backup (nothing to disk); every 50th goes all the way.
    test::ScriptedFileManager files;
    KeymapWebView::Coordinator fuzzed({.mainQueue = queue,
                                       .workQueue = work,
                                       .collectInventory = [] { return AppInventoryPayload{}; },
                                       .linterPath = tools / "absent-karabiner_cli",
                                       .homeDirectory = home.path(),
                                       .fileManager = &files});
    fuzzed.webView = page;

    const std::string original = readFile(config());
    RandomBodies random(20261206);
    const std::string names[] = {"tarvelApply", "tarvelApply", "tarvelApply", "tarvelApps", "TarvelApply", "other"};
    std::size_t answered = 0, applies = 0;
    for (int i = 0; i < 10000; ++i) {
        files.linkFailure = files.copyFailure = i % 50 == 0 ? std::nullopt : std::optional<Error>(Error{"injected", EIO});
        const std::string& name = names[static_cast<std::size_t>(i) % std::size(names)];
        ASSERT_NO_THROW(fuzzed.userContentControllerDidReceive(name, random.body().dump(), KeymapWebView::pageAddress)) << i;
        if (!files.copyFailure) writeFile(config(), original);  // keep later parses small
        queue->runAll();
        applies += name == "tarvelApply";
        answered += name == "tarvelApply" || name == "tarvelApps";
        ASSERT_EQ(page->scripts.size(), answered) << "after message " << i;
    }
    const auto answers = applyAnswers();
    EXPECT_EQ(answers.size(), applies);
    for (const auto& answer : answers) {
        ASSERT_TRUE(answer.size() == 2u + answer.contains("code") + 2u * answer.contains("line") && answer["ok"].is_boolean()) << answer;
        ASSERT_TRUE(answer.contains(answer["ok"].get<bool>() ? "backupPath" : "error")) << answer;
    }
}

} // namespace
} // namespace tarvel
