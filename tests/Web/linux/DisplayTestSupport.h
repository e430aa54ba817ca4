#pragma once
// Helpers for the end-to-end tests that drive real GTK windows and WebKit views on a display.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "Platform/Json.h"
#include "TestSupport.h"

namespace tarvel::test {

// The process's own HOME and XDG folders, made by the display tests' main before GTK starts.
struct DisplayEnvironment {
    static const fs::path& root();
    static fs::path home() { return root() / "home"; }
    static fs::path dataHome() { return root() / "data-home"; }
    static fs::path dataDir() { return root() / "data-dir"; }
    static fs::path configHome() { return root() / "config-home"; }
    static fs::path cacheHome() { return root() / "cache"; }
};

// Runs the main loop until `condition` holds; false when `seconds` pass first.
bool spinUntil(const std::function<bool()>& condition, double seconds = 30);
// Runs the main loop for a while, for things that must NOT happen.
void spinFor(double seconds);

// Evaluates an expression in the page and returns its value as JSON (null for undefined).
Json evaluate(WebKitWebView* view, const std::string& expression);
// Runs the body of an async function in the page and returns its awaited value as JSON.
Json callAsync(WebKitWebView* view, const std::string& body);
// Waits until `expression` is true in the page.
bool waitInPage(WebKitWebView* view, const std::string& expression, double seconds = 30);
// Waits until the current load has finished.
bool waitForLoad(WebKitWebView* view, double seconds = 30);

// A toplevel window holding one widget; destroyed at the end of the scope.
class TestWindow {
public:
    explicit TestWindow(GtkWidget* child, int width = 1000, int height = 700);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    GtkWindow* window() const { return window_; }

private:
    GtkWindow* window_;
};

// The first visible toplevel, other than the test windows, that satisfies `matches`.
GtkWindow* findToplevel(const std::function<bool(GtkWindow*)>& matches);
GtkWindow* waitForToplevel(const std::function<bool(GtkWindow*)>& matches, double seconds = 30);

} // namespace tarvel::test
