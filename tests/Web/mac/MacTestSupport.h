#pragma once
// Helpers for the tests that drive real AppKit views and WKWebViews: the main run loop, scripts in a
// page, and a bundle of test resources.
#import <WebKit/WebKit.h>

#include <functional>
#include <string>
#include <vector>

#include "Platform/Json.h"
#include "TestSupport.h"

namespace tarvel::test {

// Makes this process a regular application that has finished launching, as Tarvel.app is; once per
// process, from a suite's set-up. A test binary has no bundle, and its policy is then Prohibited:
// its windows never become key, and minimizing, alerts, panels and sheets may never complete.
void startRegularApplication();

// Runs the main run loop until `condition` holds; false when `seconds` pass first.
bool spinUntil(const std::function<bool()>& condition, double seconds = 30);

// The value of a script expression in the page, as JSON (null for undefined or on a script error).
Json evaluate(WKWebView* view, const std::string& expression);
// Waits until `expression` is true in the page.
bool waitInPage(WKWebView* view, const std::string& expression, double seconds = 30);

// The texts a window shows: its labels' strings and its buttons' titles, in view order.
std::vector<std::string> textsIn(NSWindow* window);
// The button of `window` with this title, or with this key equivalent ("\x1b" for Escape).
NSButton* buttonTitled(NSWindow* window, const std::string& title);
NSButton* buttonForKey(NSWindow* window, const std::string& keyEquivalent);
// Runs `answer` with the next application-modal window, from inside its modal loop, where the test's
// own waiting does not turn; dropped when none comes within `seconds`.
void answerNextModal(std::function<void(NSWindow*)> answer, double seconds = 30);

// A bundle folder (Contents/Resources) with, unless told otherwise, WebResources/ holding a test page
// that keeps every answer it receives in window.applyAnswers and window.appsAnswers.
struct TestBundle {
    TemporaryDirectory directory;
    fs::path resources() const { return directory / "Test.bundle/Contents/Resources"; }
    fs::path webResources() const { return resources() / "WebResources"; }
    void writeTestPage() const;
    NSBundle* bundle() const;
};

} // namespace tarvel::test
