// The editor page in a real WKWebView: script messages both ways, the resource scheme seen from inside
// the page, and the notice document when the page is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#import "Web/mac/KeymapWebViewMac.h"
#import "Web/mac/MacTestSupport.h"
#import "Web/mac/URLSchemeTask.h"

namespace tarvel::test {

namespace {

class KeymapWebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        [NSApplication sharedApplication];
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

    TemporaryDirectory home;
    TestBundle resources;
    TarvelKeymapCoordinator* coordinator = nil;

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
}

TEST_F(KeymapWebViewTest, TheSchemeServesFilesWithTheirTypesAndRefusesEscapes) {
    resources.writeTestPage();
    WKWebView* view = open(resources.bundle());
    evaluate(view, R"(window.fetched = [];
        for (const path of ['sub/data.json', 'style.css', 'tarvelresource://elsewhere/index.html',
                            'sub/%2E%2E/%2E%2E/secret.txt', 'sub', 'missing.txt'])
            fetch(path).then(async (r) => fetched.push([path, r.headers.get('Content-Type'), await r.text()]),
                             () => fetched.push([path, 'failed']));
        0)");
    ASSERT_TRUE(waitInPage(view, "window.fetched.length === 6"));
    std::map<std::string, Json> byPath;
    for (const Json& entry : evaluate(view, "window.fetched")) byPath[entry[0]] = entry;
    EXPECT_EQ(byPath["sub/data.json"][2], R"({"served": true})");
    EXPECT_NE(byPath["sub/data.json"][1].get<std::string>().find("application/json"), std::string::npos);
    EXPECT_NE(byPath["style.css"][1].get<std::string>().find("text/css"), std::string::npos);
    EXPECT_NE(byPath["tarvelresource://elsewhere/index.html"][2].get<std::string>().find("test page"), std::string::npos);
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
