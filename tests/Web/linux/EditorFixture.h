#pragma once
// A real KeymapWebView in a real window, serving a test page of its own from a temporary
// WebResources folder, with a temporary home and a stand-in karabiner_cli.
#include <gtest/gtest.h>

#include <memory>

#include "Web/KeymapWebView.h"
#include "Web/linux/DisplayTestSupport.h"
#include "Platform/linux/GioFolderMonitor.h"
#include "Web/linux/GLibMainQueue.h"
#include "Web/linux/KeymapWebViewGtk.h"

namespace tarvel::test {

inline const char* sampleConfiguration = R"({
    "global": {"show_in_menu_bar": true},
    "profiles": [
        {"name": "Default", "selected": false,
         "complex_modifications": {"rules": [{"description": "old default rule",
             "manipulators": [{"type": "basic", "from": {"key_code": "a"}, "to": [{"key_code": "b"}]}]}]}},
        {"name": "Work", "selected": true,
         "complex_modifications": {"parameters": {"basic.to_if_alone_timeout_milliseconds": 300},
             "rules": [{"description": "old work rule",
                 "manipulators": [{"type": "basic", "from": {"key_code": "c"}, "to": [{"key_code": "d"}]}]}]}}
    ]
})";

class EditorFixture : public ::testing::Test {
protected:
    TemporaryDirectory resources;  // holds WebResources/
    TemporaryDirectory home;
    TemporaryDirectory tools;
    std::function<AppInventoryPayload()> collectInventory = [] { return AppInventoryPayload{}; };
    std::shared_ptr<KeymapWebView::Coordinator> coordinator;
    WebKitWebView* view = nullptr;
    std::unique_ptr<TestWindow> window;

    fs::path webResources() const { return resources / "WebResources"; }
    fs::path configPath() const { return home / ".config/karabiner/karabiner.json"; }
    fs::path linterRuns() const { return tools / "runs"; }

    void SetUp() override {
        // index.html loads app.js (a module) and style.css, and keeps every answer it receives.
        writeFile(webResources() / "index.html", R"(<!doctype html>
<html><head><meta charset="utf-8"><title>test page</title>
<link rel="stylesheet" href="style.css"><script type="module" src="app.js"></script></head>
<body><p id="text">test page</p>
<input id="single" type="file" accept=".json,application/json">
<input id="multiple" type="file" multiple accept=".json,application/json">
</body></html>
)");
        writeFile(webResources() / "app.js", R"(
window.applyAnswers = [];
window.appsAnswers = [];
window.configAnswers = [];
window.restoreAnswers = [];
window.__tarvelApplyResolve = (value) => window.applyAnswers.push(value);
window.__tarvelAppsResolve = (value) => window.appsAnswers.push(value);
window.__tarvelConfigResolve = (value) => window.configAnswers.push(value);
window.__tarvelRestoreResolve = (value) => window.restoreAnswers.push(value);
window.configChanges = [];
window.__tarvelConfigChanged = (value) => window.configChanges.push(value);
window.chosen = null;
window.cancelled = false;
for (const id of ["single", "multiple"]) {
    const input = document.getElementById(id);
    input.addEventListener("change", async () => {
        window.chosen = await Promise.all([...input.files].map(async (f) => ({ name: f.name, text: await f.text() })));
    });
    input.addEventListener("cancel", () => { window.cancelled = true; });
}
window.moduleRan = true;
)");
        writeFile(webResources() / "style.css", "#text { color: rgb(1, 2, 3); }\n");
        writeFile(configPath(), sampleConfiguration);
        // Refuses any rule set that mentions "reject"; reports each run.
        writeTool(tools / "karabiner_cli",
                  "echo run >> '" + linterRuns().string() + "'\n"
                  "if grep -q reject \"$2\"; then printf '%s\\n' 'bad \"key\" \\ here' 'second line'; exit 1; fi\n"
                  "echo \"$2: ok\"");
    }

    void TearDown() override {
        window.reset();
        view = nullptr;
        spinFor(0.05);
    }

    // Opens the view on `resourcesDirectory` and waits for its first load.
    void open(const fs::path& resourcesDirectory) {
        coordinator = std::make_shared<KeymapWebView::Coordinator>(KeymapWebView::Coordinator::Services{
            .mainQueue = std::make_shared<GLibMainQueue>(),
            .collectInventory = collectInventory,
            .linterPath = tools / "karabiner_cli",
            .homeDirectory = home.path(),
            .folderMonitor = std::make_shared<GioFolderMonitor>(),
        });
        view = WEBKIT_WEB_VIEW(KeymapWebViewGtk::makeView(coordinator, resourcesDirectory));
        window = std::make_unique<TestWindow>(GTK_WIDGET(view));
        ASSERT_TRUE(waitForLoad(view));
    }

    void openEditor() {
        ASSERT_NO_FATAL_FAILURE(open(resources.path()));
        ASSERT_TRUE(waitInPage(view, "window.moduleRan"));
    }

    // Posts `body` (a script expression) under `name` from the page.
    void post(const std::string& name, const std::string& body) {
        evaluate(view, "window.webkit.messageHandlers." + name + ".postMessage(" + body + "), true");
    }

    // What the page's resolve function for `kind` ("apply", "apps", "config" or "restore") received,
    // once there are `count`.
    Json answers(const std::string& kind, std::size_t count) {
        EXPECT_TRUE(waitInPage(view, "window." + kind + "Answers.length >= " + std::to_string(count)));
        return evaluate(view, "window." + kind + "Answers");
    }
};

} // namespace tarvel::test
