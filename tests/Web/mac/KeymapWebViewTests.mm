// The editor page in a real WKWebView: script messages both ways and from which frames, the resource
// scheme seen from inside the page, navigations, the export as a download, dialogs and panels, the
// recovery from a web process death, and the notice document when the page is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#import "Web/mac/KeymapWebViewMac.h"
#import "Web/mac/MacTestSupport.h"
#import "Web/mac/Panels.h"
#import "Web/mac/URLSchemeTask.h"

#import <UniformTypeIdentifiers/UniformTypeIdentifiers.h>

namespace tarvel::test {

namespace {

std::string text(NSString* value) { return value ? value.UTF8String : ""; }

class KeymapWebViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { startRegularApplication(); }
    void SetUp() override {
        // The bridge writes below HOME; a home of the test's own.
        savedHome_ = std::getenv("HOME") ? std::getenv("HOME") : "";
        setenv("HOME", home.path().c_str(), 1);
        window_ = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, 800, 600)
                                              styleMask:NSWindowStyleMaskTitled
                                                backing:NSBackingStoreBuffered
                                                  defer:NO];
        window_.releasedWhenClosed = NO;
    }
    void TearDown() override {
        [window_ close];
        setenv("HOME", savedHome_.c_str(), 1);
    }

    // The view over `bundle`, shown in a window, once its document has loaded.
    WKWebView* open(NSBundle* bundle) {
        coordinator = KeymapWebViewMac::makeCoordinator();
        WKWebView* view = KeymapWebViewMac::makeView(coordinator, bundle);
        view.frame = NSMakeRect(0, 0, 800, 600);
        window_.contentView = view;
        [window_ orderFront:nil];
        EXPECT_TRUE(waitInPage(view, "document.readyState === 'complete' && document.body"));
        return view;
    }

    // Starts `call` in the page from a timer, so that the test's own evaluation is not the one that
    // a modal dialog holds up.
    void startInPage(WKWebView* view, const std::string& call) {
        evaluate(view, "window.result = undefined; setTimeout(() => { window.result = " + call + "; }, 0); 0");
    }

    TemporaryDirectory home;
    TestBundle resources;
    TarvelKeymapCoordinator* coordinator = nil;
    NSWindow* window() const { return window_; }

private:
    std::string savedHome_;
    NSWindow* window_ = nil;
};

TEST_F(KeymapWebViewTest, ThePageLoadsFromTheSchemeRootedAtTheStandardizedFolder) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    EXPECT_EQ(std::string(view.URL.absoluteString.UTF8String), "tarvelresource://local/index.html");
    EXPECT_EQ(coordinator.webView, view);
    ASSERT_NE(coordinator.schemeHandler, nil);
    NSURL* folder = [NSURL fileURLWithPath:@(resources.webResources().c_str()) isDirectory:YES];
    EXPECT_EQ(std::string(coordinator.schemeHandler.rootURL.path.UTF8String),
              std::string(folder.URLByStandardizingPath.path.UTF8String));
    // The style sheet came through the scheme too.
    EXPECT_EQ(evaluate(view, "getComputedStyle(document.body).color"), "rgb(1, 2, 3)");
    // A scheme handler's origin is potentially trustworthy to WebKit, so the page is a secure
    // context (were it not, its Copy would fall back to execCommand).
    EXPECT_EQ(evaluate(view, "[location.origin, window.isSecureContext]"), Json::parse(R"(["tarvelresource://local", true])"));
}

TEST_F(KeymapWebViewTest, TheSchemeServesFilesWithTheirTypesAndRefusesEscapes) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    // Each fetch settles as an entry, whether the request, the response or its body fails.
    evaluate(view, R"(window.fetched = [];
        for (const path of ['sub/data.json', 'style.css', 'tarvelresource://elsewhere/index.html',
                            'sub/%2E%2E/%2E%2E/secret.txt', 'sub', 'missing.txt'])
            (async () => {
                try {
                    const r = await fetch(path);
                    fetched.push([path, r.headers.get('Content-Type'), await r.text(), r.status, r.headers.get('Content-Length')]);
                } catch {
                    fetched.push([path, 'failed']);
                }
            })();
        0)");
    ASSERT_TRUE(waitInPage(view, "window.fetched.length === 6"));
    std::map<std::string, Json> byPath;
    for (const Json& entry : evaluate(view, "window.fetched")) byPath[entry[0]] = entry;
    // An HTTP answer: status 200, the type with its character set, the length.
    EXPECT_EQ(byPath["sub/data.json"][2], R"({"served": true})");
    EXPECT_EQ(byPath["sub/data.json"][1], "application/json; charset=utf-8");
    EXPECT_EQ(byPath["sub/data.json"][3], 200);
    EXPECT_EQ(byPath["sub/data.json"][4], "16");
    EXPECT_NE(byPath["style.css"][1].get<std::string>().find("text/css"), std::string::npos);
    // Another host is another origin. The handler answers for any host, but WebKit may refuse a
    // cross-origin answer that has no Access-Control-Allow-Origin header (newer versions check
    // a scheme handler's headers too): either the index or a clean failure.
    const Json& elsewhere = byPath["tarvelresource://elsewhere/index.html"];
    if (elsewhere[1] != "failed") {
        ASSERT_TRUE(elsewhere[2].is_string()) << elsewhere;
        EXPECT_NE(elsewhere[2].get<std::string>().find("test page"), std::string::npos) << elsewhere;
    }
    for (const char* refused : {"sub/%2E%2E/%2E%2E/secret.txt", "sub", "missing.txt"})
        EXPECT_EQ(byPath[refused][1], "failed") << refused;
}

TEST_F(KeymapWebViewTest, AnApplyFromThePageRewritesTheConfigurationAndAnswersInOrder) {
    writeFile(home / ".config/karabiner/karabiner.json",
              R"({"profiles": [{"name": "A", "selected": true, "complex_modifications": {"rules": [{"description": "old"}]}}]})");
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());

    // A malformed body, then an empty rule set (no linter), answered in that order.
    evaluate(view, R"(post('tarvelApply', {title: 5}), post('tarvelApply', {title: 'Home', manipulators: []}), 0)");
    ASSERT_TRUE(waitInPage(view, "window.applyAnswers.length === 2"));
    const Json answers = evaluate(view, "window.applyAnswers");
    EXPECT_EQ(answers[0], Json::parse(R"({"ok": false, "error": "malformed apply message from the web view"})"));
    EXPECT_EQ(answers[1].value("ok", false), true);
    const fs::path backup = answers[1].value("backupPath", "");
    EXPECT_TRUE(fs::exists(backup)) << backup;
    const Json config = Json::parse(readFile(home / ".config/karabiner/karabiner.json"));
    EXPECT_EQ(config["profiles"][0]["complex_modifications"]["rules"], Json::array());

    // Only the two names are registered.
    EXPECT_EQ(evaluate(view, "typeof window.webkit.messageHandlers.TarvelApply"), "undefined");
}

TEST_F(KeymapWebViewTest, AnInventoryRequestIsAnsweredWithThePayload) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    evaluate(view, "post('tarvelApps', null), 0");
    // Every installed application's icon is drawn: allow for a full Applications folder.
    ASSERT_TRUE(waitInPage(view, "window.appsAnswers.length === 1", 180));
    const Json payload = evaluate(view, "window.appsAnswers[0]");
    ASSERT_TRUE(payload.is_object()) << payload;
    for (const char* list : {"running", "installed", "shortcuts"}) EXPECT_TRUE(payload[list].is_array()) << list;
    for (const Json& record : payload["installed"]) {
        EXPECT_FALSE(record.value("name", "").empty());
        if (record.contains("icon")) EXPECT_EQ(record["icon"].get<std::string>().rfind("data:image/png;base64,", 0), 0u);
    }
}

TEST_F(KeymapWebViewTest, OnlyTheEditorsOwnDocumentsAreShownAndOnlyItsOwnFramesAreHeard) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    // Navigations elsewhere are cancelled; the page stays (a script's web address is not opened).
    evaluate(view, "location.href = 'tarvelresource://evil/index.html', 0");
    evaluate(view, "location.href = 'https://example.com/', 0");
    spinUntil([] { return false; }, 1);
    EXPECT_EQ(text(view.URL.absoluteString), "tarvelresource://local/index.html");
    EXPECT_EQ(evaluate(view, "Array.isArray(window.applyAnswers)"), true);

    // A frame of the editor's own origin is heard; a sandboxed one, whose origin is opaque, is not,
    // whatever its request's address.
    evaluate(view, R"(window.framesLoaded = 0;
        for (const sandboxed of [false, true]) {
            const frame = document.createElement('iframe');
            if (sandboxed) frame.sandbox = 'allow-scripts';
            frame.srcdoc = '<script>window.webkit.messageHandlers.tarvelApply.postMessage({title: 5})<' + '/script>';
            frame.onload = () => window.framesLoaded++;
            document.body.append(frame);
        }
        0)");
    ASSERT_TRUE(waitInPage(view, "window.framesLoaded === 2"));
    ASSERT_TRUE(waitInPage(view, "window.applyAnswers.length >= 1"));
    spinUntil([] { return false; }, 1);
    EXPECT_EQ(evaluate(view, "window.applyAnswers.length"), 1);
}

TEST_F(KeymapWebViewTest, AnExportBecomesADownloadUnderANameThatOverwritesNothing) {
    TemporaryDirectory downloads;
    writeFile(downloads / "keymap.json", "earlier");
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    coordinator.downloadsFolder = [NSURL fileURLWithPath:@(downloads.path().c_str()) isDirectory:YES];

    evaluate(view, R"(exportFile('keymap.json', '{"rules": []}'), 0)");
    ASSERT_TRUE(spinUntil([&] { return readFile(downloads / "keymap 2.json") == R"({"rules": []})"; }))
        << "saved: " << listing(downloads.path()).size() << " files";
    EXPECT_EQ(readFile(downloads / "keymap.json"), "earlier");
    EXPECT_EQ(window().attachedSheet, nil);
}

TEST_F(KeymapWebViewTest, AFailedDownloadIsToldInASheet) {
    TemporaryDirectory downloads;
    fs::permissions(downloads.path(), fs::perms::owner_read | fs::perms::owner_exec);  // nothing can be written
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    coordinator.downloadsFolder = [NSURL fileURLWithPath:@(downloads.path().c_str()) isDirectory:YES];

    evaluate(view, R"(exportFile('keymap.json', '{"rules": []}'), 0)");
    ASSERT_TRUE(spinUntil([&] { return window().attachedSheet != nil; }));
    const auto texts = textsIn(window().attachedSheet);
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::string(Panels::downloadFailedTitle)), texts.end());
    [window() endSheet:window().attachedSheet];
    fs::permissions(downloads.path(), fs::perms::owner_all);
}

TEST_F(KeymapWebViewTest, AlertsAndConfirmationsAreAnsweredByTheirButtons) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());

    std::vector<std::string> shown;
    answerNextModal([&](NSWindow* alert) {
        shown = textsIn(alert);
        [buttonTitled(alert, "OK") performClick:nil];
    });
    startInPage(view, R"(alert('Saved "keymap"') ?? 'closed')");
    ASSERT_TRUE(waitInPage(view, "window.result === 'closed'"));
    EXPECT_NE(std::find(shown.begin(), shown.end(), R"(Saved "keymap")"), shown.end());
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "Cancel"), 0) << "one button only";

    const struct {
        const char* name;
        std::function<NSButton*(NSWindow*)> button;
        bool expected;
    } cases[] = {
        {"OK", [](NSWindow* w) { return buttonTitled(w, "OK"); }, true},
        {"Cancel", [](NSWindow* w) { return buttonTitled(w, "Cancel"); }, false},
        {"Escape", [](NSWindow* w) { return buttonForKey(w, "\x1b"); }, false},
    };
    for (const auto& c : cases) {
        answerNextModal([&](NSWindow* confirmation) {
            NSButton* button = c.button(confirmation);
            EXPECT_NE(button, nil) << c.name;
            // Escape is bound to Cancel by its key equivalent, not by an English title; Return to OK.
            EXPECT_EQ(buttonForKey(confirmation, "\x1b"), buttonTitled(confirmation, "Cancel")) << c.name;
            EXPECT_EQ(buttonForKey(confirmation, "\r"), buttonTitled(confirmation, "OK")) << c.name;
            [button performClick:nil];
        });
        startInPage(view, "confirm('Replace the rules?')");
        EXPECT_TRUE(waitInPage(view, std::string("window.result === ") + (c.expected ? "true" : "false"))) << c.name;
    }
}

TEST_F(KeymapWebViewTest, AFileInputOpensAPanelOfJsonFilesOrOfFolders) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    const auto openPanel = [] {
        for (NSWindow* window in NSApp.windows)
            if ([window isKindOfClass:[NSOpenPanel class]] && window.visible) return (NSOpenPanel*)window;
        return (NSOpenPanel*)nil;
    };
    const struct {
        const char* input;
        bool folders;
    } cases[] = {{"single", false}, {"folders", true}};
    for (const auto& c : cases) {
        // Clicked from native code: WebKit counts that as the user's gesture.
        evaluate(view, std::string("document.getElementById('") + c.input + "').click(), 0");
        ASSERT_TRUE(spinUntil([&] { return openPanel() != nil; })) << c.input;
        NSOpenPanel* panel = openPanel();
        EXPECT_EQ(bool(panel.canChooseDirectories), c.folders) << c.input;
        EXPECT_EQ(bool(panel.canChooseFiles), !c.folders) << c.input;
        EXPECT_FALSE(panel.allowsMultipleSelection) << c.input;
        // JSON only, whatever the input accepts (".txt" here).
        ASSERT_EQ(panel.allowedContentTypes.count, 1u) << c.input;
        EXPECT_EQ(text(panel.allowedContentTypes.firstObject.identifier), "public.json") << c.input;
        [panel cancel:nil];
        EXPECT_TRUE(spinUntil([&] { return openPanel() == nil; })) << c.input;
    }
}

TEST_F(KeymapWebViewTest, AWebProcessDeathReloadsThePageOnceThenLeavesANotice) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    // As WebKit reports it.
    [coordinator webViewWebContentProcessDidTerminate:view];
    ASSERT_TRUE(spinUntil([&] { return text(view.URL.absoluteString) == KeymapWebView::recoveredPageAddress; }));
    ASSERT_TRUE(waitInPage(view, "Array.isArray(window.applyAnswers)"));
    EXPECT_EQ(coordinator.webView, view);

    // Again within a minute: no more reloading; the view no longer belongs to the coordinator.
    [coordinator webViewWebContentProcessDidTerminate:view];
    ASSERT_TRUE(waitInPage(view, "document.body && document.body.innerText.includes('The editor stopped twice')"));
    EXPECT_EQ(coordinator.webView, nil);
    EXPECT_EQ(view.navigationDelegate, nil);
}

TEST_F(KeymapWebViewTest, AMissingPageShowsTheNoticeWithoutSchemeOrPage) {
    WKWebView* view = open(resources.bundle());
    EXPECT_EQ(coordinator.webView, nil);
    EXPECT_EQ(coordinator.schemeHandler, nil);
    EXPECT_EQ(view.UIDelegate, nil);
    ASSERT_TRUE(waitInPage(view, "document.body.innerText.includes('WebResources/index.html was not found')"));
    EXPECT_NE(evaluate(view, "document.body.innerText").get<std::string>().find("Run scripts/build-web-resources and rebuild."),
              std::string::npos);
}

} // namespace

} // namespace tarvel::test
