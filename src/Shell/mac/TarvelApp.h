#pragma once
#import <AppKit/AppKit.h>

// The application's delegate: one window, made when the application starts and again only after it
// was closed; the light appearance for the whole application.
@interface TarvelAppDelegate : NSObject <NSApplicationDelegate, NSWindowDelegate>
// `makeEditor` nil: the product's editor.
- (instancetype)initWithEditorFactory:(NSView* (^)(void))makeEditor NS_DESIGNATED_INITIALIZER;
// The window, or nil once it was closed.
@property(nonatomic, readonly) NSWindow* window;
@end

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

    // The application menu, the File menu with Close (Command-W), and the Edit menu, so that the
    // page's text fields take the usual shortcuts.
    static NSMenu* mainMenu();
};

} // namespace tarvel
