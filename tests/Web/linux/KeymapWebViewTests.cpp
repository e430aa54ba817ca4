// The editor page in a real WebKitGTK view: script messages both ways, the resource scheme seen
// from inside the page, and the notice document when the page is missing. The bridge's and the
// scheme's rules are covered with fakes in tests/Web; here each flow once through the engine.
#include "Web/linux/EditorFixture.h"

namespace tarvel::test {

namespace {

const std::string manipulator =
    R"({"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}], "to_if_alone": [{"key_code": "escape"}]})";

using KeymapWebViewTest = EditorFixture;

TEST_F(KeymapWebViewTest, ApplyFromThePageRewritesTheConfigurationAndAnswersWithTheBackup) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());

    post("tarvelApply", R"({"title": "Caps", "manipulators": [)" + manipulator + R"(], "extra": 1})");
    const Json answer = answers("apply", 1).at(0);
    ASSERT_EQ(answer.size(), 2u) << answer;
    EXPECT_EQ(answer["ok"], true);
    const fs::path backup = answer.value("backupPath", "");
    EXPECT_EQ(backup.parent_path(), configPath().parent_path());
    EXPECT_EQ(readFile(backup), original);
    EXPECT_TRUE(fs::exists(linterRuns()));
    EXPECT_EQ(Json::parse(readFile(configPath()))["profiles"][1]["complex_modifications"]["rules"],
              Json::parse(R"([{"description": "[Tarvel] Caps", "manipulators": [)" + manipulator + "]}]"));
}

TEST_F(KeymapWebViewTest, FailuresReachThePageAsTextsInOrder) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());
    post("tarvelApply", "undefined");
    post("tarvelApply", R"({"title": "t", "manipulators": [)" + manipulator + R"(, "text"]})");
    post("tarvelApply", R"({"title": "reject", "manipulators": [)" + manipulator + "]}");
    const Json malformed{{"ok", false}, {"error", KeymapWebView::Coordinator::malformedApplyMessage}, {"code", "malformed"}};
    const Json received = answers("apply", 3);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0], malformed);
    EXPECT_EQ(received[1], malformed);
    // Quotation marks, a backslash and a line break arrive intact; nothing was written or backed up.
    EXPECT_EQ(received[2], (Json{{"ok", false},
                                 {"error", std::string(KeymapWebView::Coordinator::lintFailurePrefix) + "bad \"key\" \\ here\nsecond line\n"},
                                 {"code", "lint"}}));
    EXPECT_EQ(readFile(configPath()), original);
    EXPECT_EQ(listing(configPath().parent_path()), (std::set<std::string>{"karabiner.json"}));

    fs::remove(configPath());
    post("tarvelApply", R"({"title": "t", "manipulators": []})");
    EXPECT_EQ(answers("apply", 4).at(3),
              (Json{{"ok", false}, {"error", "karabiner.json not found at " + configPath().string()}, {"code", "notFound"}}));
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

TEST_F(KeymapWebViewTest, OnlyTheTwoMessageNamesAreHandled) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    EXPECT_EQ(evaluate(view, "['tarvelApply', 'tarvelApps', 'TarvelApply', 'tarvelapps'].map("
                             "(n) => typeof window.webkit.messageHandlers[n])"),
              Json::parse(R"(["object", "object", "undefined", "undefined"])"));
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

TEST_F(KeymapWebViewTest, TheSchemeServesFilesWithTheirTypesAndNothingOutsideTheFolder) {
    const fs::path root = webResources();
    writeFile(root / "data.json", R"({"a": 1})");
    writeFile(root / "images/icon.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
    writeFile(root / "images/logo.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'));
    writeFile(root / "empty.css", "");
    writeFile(root / "sub/inner.txt", "inner");
    writeFile(resources / "secret.txt", "secret");
    writeFile(resources / "WebResourcesEvil/secret.txt", "sibling");
    ASSERT_NO_FATAL_FAILURE(openEditor());

    const std::pair<std::string, std::string> served[] = {
        {"/", "text/html"}, {"style.css", "text/css"}, {"app.js", "application/javascript"},
        {"data.json", "application/json"}, {"images/logo.png", "image/png"}, {"images/icon.svg", "image/svg+xml"},
        {"empty.css", "text/css"}, {"sub/inner.txt", "application/octet-stream"},
    };
    const std::vector<std::string> refused = {"sub", "sub/", "missing.js", "/..%2Fsecret.txt", "/%2E%2E/secret.txt",
                                              "/sub%2F..%2F..%2Fsecret.txt", "/..%2FWebResourcesEvil%2Fsecret.txt"};
    std::vector<std::string> paths = refused;
    for (const auto& [path, type] : served) paths.push_back(path);
    const Json results = fetchAll(view, paths);

    for (const auto& [path, type] : served) {
        const fs::path file = root / (path == "/" ? "index.html" : path);
        EXPECT_EQ(results[path], Json::array({200, type + "; charset=utf-8", fs::file_size(file)})) << path;
    }
    for (const auto& path : refused) EXPECT_EQ(results[path], "failed") << path;
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
