#import "Web/mac/MacTestSupport.h"

#include <memory>

namespace tarvel::test {

bool spinUntil(const std::function<bool()>& condition, double seconds) {
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while (!condition()) {
        if ([deadline timeIntervalSinceNow] <= 0) return false;
        [[NSRunLoop mainRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.02]];
    }
    return true;
}

Json evaluate(WKWebView* view, const std::string& expression) {
    NSString* script = [NSString stringWithFormat:@"JSON.stringify((%s) ?? null)", expression.c_str()];
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

void TestBundle::writeTestPage() const {
    writeFile(directory / "Test.bundle/Contents/Info.plist",
              R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
              R"(<key>CFBundleIdentifier</key><string>app.tarvel.tests.Resources</string></dict></plist>)");
    writeFile(webResources() / "index.html", R"(<!doctype html><html><head><meta charset="utf-8">
<link rel="stylesheet" href="style.css"></head><body>test page<script>
window.applyAnswers = []; window.appsAnswers = [];
window.__tarvelApplyResolve = (value) => window.applyAnswers.push(value);
window.__tarvelAppsResolve = (value) => window.appsAnswers.push(value);
window.post = (name, body) => window.webkit.messageHandlers[name].postMessage(body);
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
