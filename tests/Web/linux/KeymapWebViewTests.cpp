// The editor page in a real WebKitGTK view: script messages both ways, the resource scheme seen
// from inside the page, and the notice document when the page is missing. The bridge's and the
// scheme's rules are covered with fakes in tests/Web; here each flow once through the engine.
#include "Web/linux/EditorFixture.h"

namespace tarvel::test {

namespace {

const std::string manipulator =
    R"({"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}], "to_if_alone": [{"key_code": "escape"}]})";

using KeymapWebViewTest = EditorFixture;

TEST_F(KeymapWebViewTest, FailuresReachThePageAsTextsInOrder) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());
    post("tarvelApply", "undefined");
    post("tarvelApply", R"({"title": "reject", "manipulators": [)" + manipulator + "]}");
    const Json received = answers("apply", 2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], (Json{{"ok", false}, {"error", KeymapWebView::Coordinator::malformedApplyMessage}, {"code", "malformed"}}));
    // Quotation marks, a backslash and a line break arrive intact; nothing was written or backed up.
    EXPECT_EQ(received[1], (Json{{"ok", false},
                                 {"error", std::string(KeymapWebView::Coordinator::lintFailurePrefix) + "bad \"key\" \\ here\nsecond line\n"},
                                 {"code", "lint"}}));
    EXPECT_EQ(readFile(configPath()), original);
    EXPECT_EQ(listing(configPath().parent_path()), (std::set<std::string>{"karabiner.json"}));
}

// The page reads the configuration, applies against what it read keeping one rule, and puts the
// backup back: the bytes on disk at each step.
TEST_F(KeymapWebViewTest, ReadApplyAndRestoreFromThePage) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());
    post("tarvelConfig", "null");
    const Json config = answers("config", 1).at(0);
    ASSERT_EQ(config["ok"], true) << config;
    EXPECT_EQ(config["profiles"][1]["selected"], true);
    EXPECT_EQ(config["profiles"][1]["rules"][0]["description"], "old work rule");

    post("tarvelApply", R"({"title": "Keys", "rules": [{"name": "Caps", "manipulators": [)" + manipulator +
                            R"(]}], "keep": [0], "baseDigest": ")" + config["digest"].get<std::string>() + "\"}");
    const Json applied = answers("apply", 1).at(0);
    ASSERT_EQ(applied["ok"], true) << applied;
    EXPECT_TRUE(fs::exists(linterRuns()));
    const Json rules = Json::parse(readFile(configPath()))["profiles"][1]["complex_modifications"]["rules"];
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0]["description"], "[Tarvel] Keys: Caps");
    EXPECT_EQ(rules[1]["description"], "old work rule");

    const std::string name = fs::path(applied["backupPath"].get<std::string>()).filename();
    post("tarvelRestore", "{name: '" + name + "'}");
    const Json restored = answers("restore", 1).at(0);
    ASSERT_EQ(restored["ok"], true) << restored;
    EXPECT_EQ(readFile(configPath()), original);
}

// Another program saves karabiner.json the way Karabiner-Elements and editors do: a new file renamed
// over it. The page hears of it once, within a second, with nothing asked.
TEST_F(KeymapWebViewTest, ASaveByAnotherProgramReachesThePageWithinASecond) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    spinFor(0.3);  // the watches are made on the watcher's own thread
    ASSERT_EQ(evaluate(view, "window.configChanges.length"), 0);
    writeFile(configPath().string() + ".tmp", R"({"profiles": [{"name": "Outside", "selected": true}]})");
    const auto saved = std::chrono::steady_clock::now();
    fs::rename(configPath().string() + ".tmp", configPath());
    ASSERT_TRUE(waitInPage(view, "window.configChanges.length >= 1", 5));
    EXPECT_LT(std::chrono::steady_clock::now() - saved, std::chrono::seconds(1));
    EXPECT_EQ(evaluate(view, "window.configChanges"), Json::array({nullptr}));
    spinFor(0.5);
    EXPECT_EQ(evaluate(view, "window.configChanges.length"), 1) << "one save, one push";
}

TEST_F(KeymapWebViewTest, AnAnswerThePageFailsOnDoesNotKeepTheNextOnesFromIt) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    evaluate(view, "window.__tarvelApplyResolve = (v) => { applyAnswers.push(v); throw new Error('page bug'); }, true");
    // Posted together, answered together.
    post("tarvelApply", "1), window.webkit.messageHandlers.tarvelApply.postMessage(2), "
                        "window.webkit.messageHandlers.tarvelApply.postMessage(3");
    EXPECT_EQ(answers("apply", 3).size(), 3u);
}

TEST_F(KeymapWebViewTest, AnAnswerDueAfterTheViewIsGoneIsDropped) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    coordinator->userContentControllerDidReceive(KeymapWebView::appsMessageName, "", KeymapWebView::pageAddress);
    window.reset();  // before the queued answer runs
    spinFor(0.3);
    EXPECT_TRUE(coordinator->webView.expired());
}

TEST_F(KeymapWebViewTest, ThePageLoadsFromTheSchemeRootedAtTheStandardizedFolder) {
    // A resources path with "." and ".." parts still gives a plain root.
    fs::create_directories(resources / "other");
    ASSERT_NO_FATAL_FAILURE(open(resources / "." / "other" / ".."));
    ASSERT_TRUE(waitInPage(view, "window.moduleRan"));
    EXPECT_STREQ(webkit_web_view_get_uri(view), "tarvelresource://local/index.html");
    ASSERT_TRUE(coordinator->schemeHandler);
    EXPECT_EQ(coordinator->schemeHandler->rootURL(), webResources());
    // The style sheet came through the scheme too.
    EXPECT_EQ(evaluate(view, "getComputedStyle(document.getElementById('text')).color"), "rgb(1, 2, 3)");
    // The page runs in a secure context of its own origin, with storage.
    EXPECT_EQ(evaluate(view, "localStorage.setItem('k', 'v'), [window.isSecureContext, location.origin, "
                             "localStorage.getItem('k'), typeof crypto.randomUUID]"),
              Json::parse(R"([true, "tarvelresource://local", "v", "function"])"));
    // The index for an empty path and for any host.
    for (const char* address : {"tarvelresource://local", "tarvelresource://elsewhere/index.html"}) {
        webkit_web_view_load_uri(view, address);
        ASSERT_TRUE(waitForLoad(view)) << address;
        EXPECT_TRUE(waitInPage(view, "window.moduleRan && document.title === 'test page'")) << address;
    }
}

// Fetches each path from inside the page: its status and Content-Type, or "failed".
Json fetchAll(WebKitWebView* view, const std::vector<std::string>& paths) {
    return callAsync(view, "const results = {};\n"
                           "for (const path of " + Json(paths).dump() + ") {\n"
                           "    try {\n"
                           "        const response = await fetch(path);\n"
                           "        const body = await response.arrayBuffer();\n"
                           "        results[path] = [response.status, response.headers.get('content-type'), body.byteLength];\n"
                           "    } catch (error) { results[path] = 'failed'; }\n"
                           "}\n"
                           "return results;");
}

// Which type each extension gets and which paths are refused is the handler's own test; here the
// answer WebKit makes of it.
TEST_F(KeymapWebViewTest, TheSchemeServesFilesWithTheirTypesAndNothingOutsideTheFolder) {
    const fs::path root = webResources();
    writeFile(root / "images/logo.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'));
    writeFile(root / "empty.css", "");
    fs::create_directories(root / "sub");
    writeFile(resources / "secret.txt", "secret");
    writeFile(resources / "WebResourcesEvil/secret.txt", "sibling");
    ASSERT_NO_FATAL_FAILURE(openEditor());

    const std::pair<std::string, std::string> served[] = {
        {"/", "text/html"}, {"images/logo.png", "image/png"}, {"empty.css", "text/css"}};
    const std::vector<std::string> refused = {"sub", "missing.js", "/%2E%2E/secret.txt", "/sub%2F..%2F..%2Fsecret.txt",
                                              "/..%2FWebResourcesEvil%2Fsecret.txt"};
    std::vector<std::string> paths = refused;
    for (const auto& [path, type] : served) paths.push_back(path);
    const Json results = fetchAll(view, paths);

    for (const auto& [path, type] : served) {
        const fs::path file = root / (path == "/" ? "index.html" : path);
        EXPECT_EQ(results[path], Json::array({200, type + "; charset=utf-8", fs::file_size(file)})) << path;
    }
    for (const auto& path : refused) EXPECT_EQ(results[path], "failed") << path;
}

// What a foreign page would run: an apply that installs a shell command.
const std::string foreignScript = R"(
window.webkit.messageHandlers.tarvelApply.postMessage({title: "evil", manipulators: [
    {type: "basic", from: {key_code: "a"}, to: [{shell_command: "touch /tmp/tarvel-pwned"}]}]});
document.title = "posted";
)";
const std::string foreignPage = "<!doctype html><script>" + foreignScript + "</script>";

class LockedDownViewTest : public EditorFixture {
protected:
    void SetUp() override {
        EditorFixture::SetUp();
        savedOpener = KeymapWebViewGtk::openInBrowser;
        KeymapWebViewGtk::openInBrowser = [this](const std::string& address) { opened.push_back(address); };
    }
    void TearDown() override {
        KeymapWebViewGtk::openInBrowser = savedOpener;
        EditorFixture::TearDown();
    }
    // Nothing linted, backed up or written.
    void expectConfigurationUntouched(const std::string& original) {
        EXPECT_EQ(readFile(configPath()), original);
        EXPECT_EQ(listing(configPath().parent_path()), (std::set<std::string>{"karabiner.json"}));
        EXPECT_FALSE(fs::exists(linterRuns()));
    }
    std::function<void(const std::string&)> savedOpener;
    std::vector<std::string> opened;
};

TEST_F(LockedDownViewTest, OnlyTheEditorsDocumentsAreShownAndNoOtherDocumentGetsTheBridge) {
    const fs::path evil = writeFile(tools / "evil.html", foreignPage);
    const std::string evilAddress = "file://" + evil.string();
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());

    // Each from the editor, which must stay in place.
    const struct {
        const char* what;
        std::function<void()> navigate;
    } attempts[] = {
        // What a file dropped on the window does.
        {"load of a file", [&] { webkit_web_view_load_uri(view, evilAddress.c_str()); }},
        {"script to a file", [&] { evaluate(view, "location.href = " + Json(evilAddress).dump() + ", true"); }},
        {"web address, not clicked", [&] { webkit_web_view_load_uri(view, "https://example.org/loaded"); }},
        {"data document", [&] { webkit_web_view_load_uri(view, "data:text/html,<p>other</p>"); }},
        {"clicked web link", [&] {
             evaluate(view, "const a = document.createElement('a'); a.href = 'https://example.org/clicked'; "
                            "document.body.append(a); a.click(); true");
         }},
        {"clicked link to a new window", [&] {
             evaluate(view, "const b = document.createElement('a'); b.href = 'https://example.org/window'; "
                            "b.target = '_blank'; document.body.append(b); b.click(); true");
         }},
        {"new window of a file", [&] { evaluate(view, "window.open(" + Json(evilAddress).dump() + "), true"); }},
    };
    for (const auto& attempt : attempts) {
        attempt.navigate();
        spinFor(0.3);
        EXPECT_STREQ(webkit_web_view_get_uri(view), "tarvelresource://local/index.html") << attempt.what;
        EXPECT_EQ(evaluate(view, "document.title"), "test page") << attempt.what;
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/clicked", "https://example.org/window"}));
    expectConfigurationUntouched(original);

    // Were a foreign document shown all the same (here: with the view's policy taken away), its
    // messages would go unanswered and do nothing.
    const guint decidePolicy = g_signal_lookup("decide-policy", WEBKIT_TYPE_WEB_VIEW);
    while (gulong handler = g_signal_handler_find(view, G_SIGNAL_MATCH_ID, decidePolicy, 0, nullptr, nullptr, nullptr))
        g_signal_handler_disconnect(view, handler);
    webkit_web_view_load_html(view, foreignPage.c_str(), evilAddress.c_str());
    ASSERT_TRUE(waitInPage(view, "document.title === 'posted'"));
    EXPECT_EQ(webkit_web_view_get_uri(view), evilAddress);
    spinFor(0.5);
    expectConfigurationUntouched(original);
}

TEST_F(LockedDownViewTest, AKilledWebProcessReloadsThePageOnceAndASecondDeathShowsTheNotice) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());

    webkit_web_view_terminate_web_process(view);
    ASSERT_TRUE(spinUntil([&] {
        const char* uri = webkit_web_view_get_uri(view);
        return uri && std::string(uri) == KeymapWebView::recoveredPageAddress && !webkit_web_view_is_loading(view);
    }));
    ASSERT_TRUE(waitInPage(view, "window.moduleRan"));
    // The reloaded page has the bridge.
    post("tarvelApps", "null");
    EXPECT_EQ(answers("apps", 1).size(), 1u);

    webkit_web_view_terminate_web_process(view);
    ASSERT_TRUE(waitInPage(view, "document.body && document.body.innerText.includes('The editor stopped twice')"));
    EXPECT_EQ(evaluate(view, "document.querySelector('p').innerText"),
              "エディタが続けて停止したため、再読み込みを止めました。Tarvelを終了して、もう一度開いてください。");
    spinFor(0.5);
    EXPECT_STREQ(webkit_web_view_get_uri(view), "about:blank") << "the notice stays; nothing reloads it";
    // The notice is no editor document: what it might post does nothing.
    evaluate(view, foreignScript + "; true");
    ASSERT_TRUE(waitInPage(view, "document.title === 'posted'"));
    spinFor(0.5);
    expectConfigurationUntouched(original);
}

TEST_F(KeymapWebViewTest, AMissingPageShowsTheNoticeWithoutSchemeOrPage) {
    fs::remove(webResources() / "index.html");
    ASSERT_NO_FATAL_FAILURE(open(resources.path()));
    EXPECT_EQ(evaluate(view, "document.body.innerText.trim()"),
              "WebResources/index.html was not found in the app bundle.\nRun scripts/build-web-resources and rebuild.");
    EXPECT_EQ(evaluate(view, "document.body.getAttribute('style')"), "font-family:-apple-system;padding:24px;color:#3a3a3a");
    EXPECT_FALSE(coordinator->schemeHandler);
    EXPECT_TRUE(coordinator->webView.expired());
    // No scheme handler: the editor's address does not load.
    EXPECT_EQ(fetchAll(view, {"tarvelresource://local/app.js"})["tarvelresource://local/app.js"], "failed");
}

} // namespace

} // namespace tarvel::test
