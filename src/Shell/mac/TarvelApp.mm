#import "Shell/mac/TarvelApp.h"

#import "Shell/mac/ContentView.h"

namespace {

NSMenuItem* item(NSString* title, SEL action, NSString* key) {
    return [[NSMenuItem alloc] initWithTitle:title action:action keyEquivalent:key];
}

} // namespace

namespace tarvel {

NSMenu* TarvelApp::mainMenu() {
    NSString* name = @(tarvel::TarvelApp::displayName);
    NSMenu* application = [[NSMenu alloc] initWithTitle:name];
    [application addItem:item([@"Hide " stringByAppendingString:name], @selector(hide:), @"h")];
    [application addItem:[NSMenuItem separatorItem]];
    [application addItem:item([@"Quit " stringByAppendingString:name], @selector(terminate:), @"q")];

    NSMenu* file = [[NSMenu alloc] initWithTitle:@"File"];
    [file addItem:item(@"Close", @selector(performClose:), @"w")];

    NSMenu* edit = [[NSMenu alloc] initWithTitle:@"Edit"];
    [edit addItem:item(@"Undo", @selector(undo:), @"z")];
    [edit addItem:item(@"Redo", @selector(redo:), @"Z")];
    [edit addItem:[NSMenuItem separatorItem]];
    [edit addItem:item(@"Cut", @selector(cut:), @"x")];
    [edit addItem:item(@"Copy", @selector(copy:), @"c")];
    [edit addItem:item(@"Paste", @selector(paste:), @"v")];
    [edit addItem:item(@"Select All", @selector(selectAll:), @"a")];

    NSMenu* menu = [[NSMenu alloc] init];
    for (NSMenu* submenu in @[ application, file, edit ]) {
        NSMenuItem* holder = item(submenu.title, nullptr, @"");
        holder.submenu = submenu;
        [menu addItem:holder];
    }
    return menu;
}

} // namespace tarvel

@implementation TarvelAppDelegate {
    NSView* (^_makeEditor)(void);
}

- (instancetype)initWithEditorFactory:(NSView* (^)(void))makeEditor {
    if ((self = [super init])) _makeEditor = [makeEditor copy];
    return self;
}

- (instancetype)init {
    return [self initWithEditorFactory:nil];
}

- (void)showWindow {
    if (!_window) {
        _window = tarvel::TarvelApp::makeWindow(_makeEditor);
        _window.delegate = self;
    }
    if (_window.miniaturized) [_window deminiaturize:nil];
    [_window makeKeyAndOrderFront:nil];
}

- (void)applicationWillFinishLaunching:(NSNotification*)notification {
    NSApp.mainMenu = tarvel::TarvelApp::mainMenu();
    // Light everywhere, the alerts and panels included, whatever the system's appearance.
    NSApp.appearance = [NSAppearance appearanceNamed:NSAppearanceNameAqua];
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    [self showWindow];
    [NSApp activate];
}

// Clicking the Dock icon brings the one window back, minimized or not, whatever the flag says of a
// minimized window (deciding by the flag opened a second one). Only a closed window is made anew,
// with a fresh check.
- (BOOL)applicationShouldHandleReopen:(NSApplication*)sender hasVisibleWindows:(BOOL)flag {
    [self showWindow];
    return NO;
}

- (void)windowWillClose:(NSNotification*)notification {
    if (notification.object == _window) _window = nil;
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
        static TarvelAppDelegate* delegate = [[TarvelAppDelegate alloc] initWithEditorFactory:nil];
        application.delegate = delegate;
        [application run];
    }
    return 0;
}

} // namespace tarvel
