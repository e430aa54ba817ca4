#import "Shell/mac/TarvelApp.h"

#import "Shell/mac/ContentView.h"

namespace {

NSMenuItem* item(NSString* title, SEL action, NSString* key) {
    return [[NSMenuItem alloc] initWithTitle:title action:action keyEquivalent:key];
}

// The application menu and the Edit menu, so that the page's text fields take the usual shortcuts.
NSMenu* mainMenu() {
    NSString* name = @(tarvel::TarvelApp::displayName);
    NSMenu* application = [[NSMenu alloc] initWithTitle:name];
    [application addItem:item([@"Hide " stringByAppendingString:name], @selector(hide:), @"h")];
    [application addItem:[NSMenuItem separatorItem]];
    [application addItem:item([@"Quit " stringByAppendingString:name], @selector(terminate:), @"q")];

    NSMenu* edit = [[NSMenu alloc] initWithTitle:@"Edit"];
    [edit addItem:item(@"Undo", @selector(undo:), @"z")];
    [edit addItem:item(@"Redo", @selector(redo:), @"Z")];
    [edit addItem:[NSMenuItem separatorItem]];
    [edit addItem:item(@"Cut", @selector(cut:), @"x")];
    [edit addItem:item(@"Copy", @selector(copy:), @"c")];
    [edit addItem:item(@"Paste", @selector(paste:), @"v")];
    [edit addItem:item(@"Select All", @selector(selectAll:), @"a")];

    NSMenu* menu = [[NSMenu alloc] init];
    for (NSMenu* submenu in @[ application, edit ]) {
        NSMenuItem* holder = item(submenu.title, nullptr, @"");
        holder.submenu = submenu;
        [menu addItem:holder];
    }
    return menu;
}

} // namespace

@interface TarvelAppDelegate : NSObject <NSApplicationDelegate, NSWindowDelegate>
@end

@implementation TarvelAppDelegate {
    NSMutableArray<NSWindow*>* _windows;
}

- (void)openWindow {
    NSWindow* window = tarvel::TarvelApp::makeWindow();
    window.delegate = self;
    if (!_windows) _windows = [NSMutableArray array];
    [_windows addObject:window];
    [window makeKeyAndOrderFront:nil];
}

- (void)applicationWillFinishLaunching:(NSNotification*)notification {
    NSApp.mainMenu = mainMenu();
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    [self openWindow];
    [NSApp activate];
}

// Clicking the Dock icon with no window open opens a new one, with a fresh check.
- (BOOL)applicationShouldHandleReopen:(NSApplication*)sender hasVisibleWindows:(BOOL)flag {
    if (!flag) [self openWindow];
    return YES;
}

- (void)windowWillClose:(NSNotification*)notification {
    [_windows removeObject:notification.object];
}

@end

namespace tarvel {

NSWindow* TarvelApp::makeWindow(NSView* (^makeEditor)(void)) {
    NSWindow* window = [[NSWindow alloc]
        initWithContentRect:NSMakeRect(0, 0, defaultWidth, defaultHeight)
                  styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable |
                            NSWindowStyleMaskResizable
                    backing:NSBackingStoreBuffered
                      defer:NO];
    window.releasedWhenClosed = NO;
    window.title = @(displayName);
    window.appearance = [NSAppearance appearanceNamed:NSAppearanceNameAqua];
    window.contentView = [TarvelContentView contentViewWithEditorFactory:makeEditor];
    // The content's minimum size is the window's.
    window.contentMinSize = NSMakeSize(ContentView::minimumWidth, ContentView::minimumHeight);
    [window center];
    return window;
}

int TarvelApp::run() {
    @autoreleasepool {
        NSApplication* application = [NSApplication sharedApplication];
        application.activationPolicy = NSApplicationActivationPolicyRegular;
        // The application's delegate property does not own it.
        static TarvelAppDelegate* delegate = [[TarvelAppDelegate alloc] init];
        application.delegate = delegate;
        [application run];
    }
    return 0;
}

} // namespace tarvel
