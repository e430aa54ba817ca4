// The editor page in a real WebKitGTK view: script messages both ways, the resource scheme seen
// from inside the page, and the notice document when the page is missing.
#include "Web/linux/EditorFixture.h"

namespace tarvel::test {

namespace {

const std::string manipulator =
    R"({"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}], "to_if_alone": [{"key_code": "escape"}]})";

std::set<std::string> keysOf(const Json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.insert(key);
    return keys;
}

using KeymapWebViewTest = EditorFixture;

TEST_F(KeymapWebViewTest, ApplyFromThePageRewritesTheConfigurationAndAnswersWithTheBackup) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());

    post("tarvelApply", R"({"title": "Caps", "manipulators": [)" + manipulator + R"(], "extra": 1})");
    const Json answer = applyAnswers(1).at(0);

    EXPECT_EQ(keysOf(answer), (std::set<std::string>{"ok", "backupPath"}));
    EXPECT_EQ(answer.value("ok", false), true);
    const fs::path backup = answer.value("backupPath", "");
    EXPECT_EQ(backup.parent_path(), configPath().parent_path());
    EXPECT_EQ(backup.filename().string().rfind("karabiner.backup-", 0), 0u);
    EXPECT_EQ(readFile(backup), original);
    EXPECT_TRUE(fs::exists(linterRuns()));

    const Json written = Json::parse(readFile(configPath()));
    EXPECT_EQ(written["profiles"][1]["complex_modifications"]["rules"],
              Json::parse(R"([{"description": "[Tarvel] Caps", "manipulators": [)" + manipulator + "]}]"));
    EXPECT_EQ(written["profiles"][1]["complex_modifications"]["parameters"]["basic.to_if_alone_timeout_milliseconds"], 300);
    EXPECT_EQ(written["profiles"][0], Json::parse(original)["profiles"][0]);
}

TEST_F(KeymapWebViewTest, AnEmptyRuleSetSkipsTheLinterAndClearsTheRules) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    post("tarvelApply", R"({"title": "", "manipulators": []})");
    const Json answer = applyAnswers(1).at(0);
    EXPECT_EQ(answer.value("ok", false), true);
    EXPECT_FALSE(fs::exists(linterRuns()));
    EXPECT_EQ(Json::parse(readFile(configPath()))["profiles"][1]["complex_modifications"]["rules"], Json::array());
}

TEST_F(KeymapWebViewTest, FailuresReachThePageAsTextsInOrder) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    const std::string original = readFile(configPath());
    const std::string malformed(KeymapWebView::Coordinator::malformedApplyMessage);

    post("tarvelApply", "42");
    post("tarvelApply", "undefined");
    post("tarvelApply", R"(["title", []])");
    post("tarvelApply", R"({"title": 7, "manipulators": []})");
    post("tarvelApply", R"({"title": "t", "manipulators": [)" + manipulator + R"(, "text"]})");
    post("tarvelApply", R"({"title": "t"})");
    post("tarvelApply", R"({"title": "reject", "manipulators": [)" + manipulator + "]}");

    const Json answers = applyAnswers(7);
    ASSERT_EQ(answers.size(), 7u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(answers[i], (Json{{"ok", false}, {"error", malformed}})) << "answer " << i;
    }
    const std::string lintError = answers[6].value("error", "");
    EXPECT_EQ(keysOf(answers[6]), (std::set<std::string>{"ok", "error"}));
    EXPECT_EQ(lintError.rfind(std::string(KeymapWebView::Coordinator::lintFailurePrefix), 0), 0u) << lintError;
    // Quotation marks, a backslash and a line break arrive intact.
    EXPECT_NE(lintError.find("bad \"key\" \\ here\nsecond line"), std::string::npos) << lintError;
    // Nothing was written, and no backup made.
    EXPECT_EQ(readFile(configPath()), original);
    EXPECT_EQ(listing(configPath().parent_path()), (std::set<std::string>{"karabiner.json"}));
}

TEST_F(KeymapWebViewTest, AMissingConfigurationIsReportedToThePage) {
    fs::remove(configPath());
    ASSERT_NO_FATAL_FAILURE(openEditor());
    post("tarvelApply", R"({"title": "t", "manipulators": []})");
    const Json answer = applyAnswers(1).at(0);
    EXPECT_EQ(keysOf(answer), (std::set<std::string>{"ok", "error"}));
    EXPECT_EQ(answer.value("ok", true), false);
    EXPECT_FALSE(answer.value("error", "").empty());
}

TEST_F(KeymapWebViewTest, OnlyTheTwoNamesAreHandledAndOtherNamesGetNoAnswer) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    EXPECT_EQ(evaluate(view, "['tarvelApply', 'tarvelApps', 'TarvelApply', 'tarvelapps'].map("
                             "(n) => typeof window.webkit.messageHandlers[n])"),
              Json::parse(R"(["object", "object", "undefined", "undefined"])"));

    // A name the coordinator does not know, delivered to it by the engine, is ignored.
    WebKitUserContentManager* manager = webkit_web_view_get_user_content_manager(view);
    webkit_user_content_manager_register_script_message_handler(manager, "TarvelApply", nullptr);
    g_signal_connect(manager, "script-message-received::TarvelApply",
                     G_CALLBACK(+[](WebKitUserContentManager*, JSCValue*, gpointer data) {
                         static_cast<KeymapWebView::Coordinator*>(data)->userContentControllerDidReceive(
                             "TarvelApply", Json{{"title", "t"}, {"manipulators", Json::array()}});
                     }),
                     coordinator.get());
    const std::string original = readFile(configPath());
    post("TarvelApply", R"({"title": "t", "manipulators": []})");
    spinFor(0.5);
    EXPECT_EQ(evaluate(view, "window.applyAnswers.length + window.appsAnswers.length"), 0);
    EXPECT_EQ(readFile(configPath()), original);
}

TEST_F(KeymapWebViewTest, EachInventoryRequestGetsAFreshAnswer) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    post("tarvelApps", "{}");
    post("tarvelApps", "undefined");
    ASSERT_TRUE(waitInPage(view, "window.appsAnswers.length >= 2"));
    const Json answers = evaluate(view, "window.appsAnswers");
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0]["installed"][0]["bundleId"], "org.gnome.Calculator");
    EXPECT_EQ(answers[0]["shortcuts"], Json::parse(R"(["request 1"])"));
    EXPECT_EQ(answers[1]["shortcuts"], Json::parse(R"(["request 2"])"));
    EXPECT_FALSE(answers[0].contains("helperPath"));
    EXPECT_EQ(evaluate(view, "window.applyAnswers.length"), 0);
}

TEST_F(KeymapWebViewTest, AnAnswerDueAfterTheViewIsGoneIsDropped) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    EXPECT_FALSE(coordinator->webView.expired());
    coordinator->userContentControllerDidReceive(KeymapWebView::appsMessageName, nullptr);
    window.reset();  // before the queued answer runs
    spinFor(0.3);
    EXPECT_TRUE(coordinator->webView.expired());
}

TEST_F(KeymapWebViewTest, ThePageLoadsFromTheSchemeRootedAtTheStandardizedFolder) {
    // A resources path with "." and ".." parts still gives a plain root.
    fs::create_directories(resources.directory / "other");
    ASSERT_NO_FATAL_FAILURE(open(resources.directory / "." / "other" / ".."));
    ASSERT_TRUE(waitInPage(view, "window.moduleRan"));
    EXPECT_STREQ(webkit_web_view_get_uri(view), "tarvelresource://local/index.html");
    ASSERT_TRUE(coordinator->schemeHandler);
    EXPECT_EQ(coordinator->schemeHandler->rootURL(), resources.webResources());
    // The style sheet and the module script came through the scheme too.
    EXPECT_EQ(evaluate(view, "getComputedStyle(document.getElementById('text')).color"), "rgb(1, 2, 3)");
    // The page runs in a secure context of its own origin, with storage.
    EXPECT_EQ(evaluate(view, "localStorage.setItem('k', 'v'), [window.isSecureContext, location.origin, "
                             "localStorage.getItem('k'), typeof crypto.randomUUID]"),
              Json::parse(R"([true, "tarvelresource://local", "v", "function"])"));
}

TEST_F(KeymapWebViewTest, TheSchemeServesFilesWithTheirTypes) {
    writeFile(resources.webResources() / "data.json", R"({"a": 1})");
    writeFile(resources.webResources() / "images/icon.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
    writeFile(resources.webResources() / "images/logo.png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'));
    writeFile(resources.webResources() / "images/UPPER.PNG", "png");
    writeFile(resources.webResources() / "notes.txt", "notes");
    writeFile(resources.webResources() / "old.htm", "<p>old</p>");
    writeFile(resources.webResources() / "empty.css", "");
    ASSERT_NO_FATAL_FAILURE(openEditor());

    const Json results = callAsync(view, R"(
        const paths = ["/index.html", "/", "style.css", "app.js", "data.json", "images/icon.svg", "images/logo.png",
                       "images/UPPER.PNG", "notes.txt", "old.htm", "empty.css"];
        const results = {};
        for (const path of paths) {
            const response = await fetch(path);
            const body = await response.arrayBuffer();
            results[path] = {status: response.status, type: response.headers.get("content-type"), length: body.byteLength};
        }
        return results;
    )");
    auto expect = [&](const std::string& path, const std::string& type, std::size_t length) {
        const Json& result = results[path];
        EXPECT_EQ(result["status"], 200) << path;
        EXPECT_EQ(result["type"], type + "; charset=utf-8") << path;
        EXPECT_EQ(result["length"], length) << path;
    };
    const auto size = [&](const char* name) { return static_cast<std::size_t>(fs::file_size(resources.webResources() / name)); };
    expect("/index.html", "text/html", size("index.html"));
    expect("/", "text/html", size("index.html"));
    expect("style.css", "text/css", size("style.css"));
    expect("app.js", "application/javascript", size("app.js"));
    expect("data.json", "application/json", 8);
    expect("images/icon.svg", "image/svg+xml", size("images/icon.svg"));
    expect("images/logo.png", "image/png", 108);
    expect("images/UPPER.PNG", "image/png", 3);
    expect("notes.txt", "application/octet-stream", 5);
    expect("old.htm", "application/octet-stream", 10);
    expect("empty.css", "text/css", 0);
}

TEST_F(KeymapWebViewTest, TheSchemeServesTheIndexForAnEmptyPathAndAnyHost) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    for (const char* address : {"tarvelresource://local", "tarvelresource://local/", "tarvelresource://elsewhere/index.html"}) {
        webkit_web_view_load_uri(view, address);
        ASSERT_TRUE(waitForLoad(view)) << address;
        EXPECT_TRUE(waitInPage(view, "window.moduleRan")) << address;
        EXPECT_EQ(evaluate(view, "document.title"), "test page") << address;
    }
}

TEST_F(KeymapWebViewTest, TheSchemeRefusesDirectoriesMissingFilesAndEscapes) {
    writeFile(resources.webResources() / "sub/inner.txt", "inner");
    writeFile(resources.directory / "secret.txt", "secret");
    writeFile(resources.directory / "WebResourcesEvil/secret.txt", "sibling");
    ASSERT_NO_FATAL_FAILURE(openEditor());

    const Json results = callAsync(view, R"(
        const paths = ["sub/inner.txt", "sub", "sub/", "missing.js", "/..%2Fsecret.txt", "/sub/..%2F..%2Fsecret.txt",
                       "/..%2FWebResourcesEvil%2Fsecret.txt", "/%2E%2E/secret.txt", "/sub%2F..%2F..%2Fsecret.txt"];
        const results = {};
        for (const path of paths) {
            try {
                const response = await fetch(path);
                results[path] = "served: " + await response.text();
            } catch (error) {
                results[path] = "failed";
            }
        }
        return results;
    )");
    EXPECT_EQ(results["sub/inner.txt"], "served: inner");
    for (const char* path : {"sub", "sub/", "missing.js", "/..%2Fsecret.txt", "/sub/..%2F..%2Fsecret.txt",
                             "/..%2FWebResourcesEvil%2Fsecret.txt", "/%2E%2E/secret.txt", "/sub%2F..%2F..%2Fsecret.txt"}) {
        EXPECT_EQ(results[path], "failed") << path;
    }
}

TEST_F(KeymapWebViewTest, AMissingPageShowsTheNoticeWithoutSchemeOrPage) {
    fs::remove(resources.webResources() / "index.html");
    ASSERT_NO_FATAL_FAILURE(open(resources.directory.path()));
    EXPECT_EQ(evaluate(view, "document.body.innerText.trim()"),
              "WebResources/index.html was not found in the app bundle.\nRun scripts/build-web-resources and rebuild.");
    EXPECT_EQ(evaluate(view, "document.body.getAttribute('style')"), "font-family:-apple-system;padding:24px;color:#3a3a3a");
    EXPECT_FALSE(coordinator->schemeHandler);
    EXPECT_TRUE(coordinator->webView.expired());
    // The messages stay registered, but no answer can reach the notice.
    EXPECT_EQ(evaluate(view, "typeof window.webkit.messageHandlers.tarvelApply"), "object");
    // No scheme handler: the editor's address does not load.
    const Json fetched = callAsync(view, "try { await fetch('tarvelresource://local/app.js'); return 'served'; } "
                                         "catch (error) { return 'failed'; }");
    EXPECT_EQ(fetched, "failed");
}

} // namespace

} // namespace tarvel::test
