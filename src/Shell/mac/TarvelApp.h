#pragma once
#import <AppKit/AppKit.h>

namespace tarvel {

// The application: one window whose content is a ContentView, always in the light appearance.
struct TarvelApp {
    static constexpr const char* displayName = "Tarvel";
    static constexpr CGFloat defaultWidth = 1180;
    static constexpr CGFloat defaultHeight = 760;

    // Runs the application's main loop; returns the process's exit status.
    static int run();

    // A window with a fresh ContentView (`makeEditor` nil: the product's editor).
    static NSWindow* makeWindow(NSView* (^makeEditor)(void) = nil);
};

} // namespace tarvel
