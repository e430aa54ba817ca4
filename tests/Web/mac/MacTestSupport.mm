#import "Web/mac/MacTestSupport.h"

#include <memory>
#include <vector>

namespace tarvel::test {

void startRegularApplication() {
    static const bool started = [] {
        NSApplication* application = [NSApplication sharedApplication];
        [application setActivationPolicy:NSApplicationActivationPolicyRegular];
        [application finishLaunching];
        [application activate];
        return true;
    }();
    (void)started;
}

bool spinUntil(const std::function<bool()>& condition, double seconds) {
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while (!condition()) {
        if ([deadline timeIntervalSinceNow] <= 0) return false;
        [[NSRunLoop mainRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.02]];
    }
    return true;
}

Json evaluate(WKWebView* view, const std::string& expression) {
    // The script goes in as a string for the global eval, so that statements work as well as
    // expressions (the value is the last statement's); its text stays UTF-8 all the way.
    const std::string wrapped = "JSON.stringify((0, eval)(" + Json(expression).dump() + ") ?? null)";
    NSString* script = [[NSString alloc] initWithBytes:wrapped.data() length:wrapped.size() encoding:NSUTF8StringEncoding];
    struct Outcome {
        bool done = false;
        std::string text = "null";
    };
    auto outcome = std::make_shared<Outcome>();
    [view evaluateJavaScript:script
           completionHandler:^(id result, NSError* error) {
               if (!error && [result isKindOfClass:[NSString class]]) outcome->text = [(NSString*)result UTF8String];
               outcome->done = true;
           }];
    if (!spinUntil([&] { return outcome->done; })) return nullptr;
    Json value = Json::parse(outcome->text, nullptr, false);
    return value.is_discarded() ? Json(nullptr) : value;
}

bool waitInPage(WKWebView* view, const std::string& expression, double seconds) {
    return spinUntil([&] { return evaluate(view, "!!(" + expression + ")") == Json(true); }, seconds);
}

void collectTexts(NSView* view, std::vector<std::string>& texts) {
    if ([view isKindOfClass:[NSTextField class]]) {
        NSString* value = ((NSTextField*)view).stringValue;
        if (value.length) texts.emplace_back(value.UTF8String);
    } else if ([view isKindOfClass:[NSButton class]]) {
        NSString* title = ((NSButton*)view).title;
        if (title.length) texts.emplace_back(title.UTF8String);
    }
    for (NSView* child in view.subviews) collectTexts(child, texts);
}

std::vector<std::string> textsIn(NSWindow* window) {
    std::vector<std::string> texts;
    if (window.contentView) collectTexts(window.contentView, texts);
    return texts;
}

namespace {

NSButton* findButton(NSView* view, BOOL (^matches)(NSButton*)) {
    if ([view isKindOfClass:[NSButton class]] && matches((NSButton*)view)) return (NSButton*)view;
    for (NSView* child in view.subviews)
        if (NSButton* found = findButton(child, matches)) return found;
    return nil;
}

} // namespace

NSButton* buttonTitled(NSWindow* window, const std::string& title) {
    NSString* wanted = @(title.c_str());
    return findButton(window.contentView, ^BOOL(NSButton* button) { return [button.title isEqualToString:wanted]; });
}

NSButton* buttonForKey(NSWindow* window, const std::string& keyEquivalent) {
    NSString* wanted = @(keyEquivalent.c_str());
    return findButton(window.contentView, ^BOOL(NSButton* button) { return [button.keyEquivalent isEqualToString:wanted]; });
}

void answerNextModal(std::function<void(NSWindow*)> answer, double seconds) {
    auto pending = std::make_shared<std::function<void(NSWindow*)>>(std::move(answer));
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:seconds];
    NSTimer* timer = [NSTimer timerWithTimeInterval:0.05
                                            repeats:YES
                                              block:^(NSTimer* firing) {
                                                  // Given up: the answer never outlives its test.
                                                  if (deadline.timeIntervalSinceNow <= 0) {
                                                      *pending = nullptr;
                                                      [firing invalidate];
                                                      return;
                                                  }
                                                  NSWindow* modal = NSApp.modalWindow;
                                                  if (!modal || !*pending) return;
                                                  auto run = std::move(*pending);
                                                  *pending = nullptr;
                                                  [firing invalidate];
                                                  run(modal);
                                              }];
    [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSModalPanelRunLoopMode];
    [[NSRunLoop mainRunLoop] addTimer:timer forMode:NSDefaultRunLoopMode];
}

void TestBundle::writeTestPage() const {
    writeFile(directory / "Test.bundle/Contents/Info.plist",
              R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
              R"(<key>CFBundleIdentifier</key><string>app.tarvel.tests.Resources</string></dict></plist>)");
    writeFile(webResources() / "index.html", R"(<!doctype html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="style.css"></head><body>test page
<input type="file" id="single" accept=".txt">
<input type="file" id="folders" webkitdirectory>
<script>
window.applyAnswers = []; window.appsAnswers = [];
window.__tarvelApplyResolve = (value) => window.applyAnswers.push(value);
window.__tarvelAppsResolve = (value) => window.appsAnswers.push(value);
window.post = (name, body) => window.webkit.messageHandlers[name].postMessage(body);
// The editor's export: a blob link with a download attribute, clicked.
window.exportFile = (name, text) => {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], {type: 'application/json'}));
  link.download = name;
  document.body.append(link);
  link.click();
};
</script></body></html>)");
    writeFile(webResources() / "style.css", "body { color: rgb(1, 2, 3); }\n");
    writeFile(webResources() / "sub/data.json", R"({"served": true})");
    writeFile(resources() / "secret.txt", "outside the root\n");
}

NSBundle* TestBundle::bundle() const {
    fs::create_directories(resources());
    return [NSBundle bundleWithPath:@((directory / "Test.bundle").c_str())];
}

} // namespace tarvel::test
