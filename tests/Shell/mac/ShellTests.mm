// The application shell on AppKit: the window, the notice and its re-check, with a stand-in editor.
#include <gtest/gtest.h>

#include "Karabiner/KarabinerEnvironment.h"
#import "Shell/mac/ContentView.h"
#import "Shell/mac/KarabinerMissingView.h"
#import "Shell/mac/TarvelApp.h"
#import "Web/mac/MacTestSupport.h"

namespace tarvel {

namespace {

NSView* fakeEditor() {
    NSView* editor = [[NSView alloc] initWithFrame:NSZeroRect];
    editor.identifier = @"fake-editor";
    return editor;
}

std::string text(NSString* value) { return value ? value.UTF8String : ""; }

// Runs the main run loop until `condition` holds; false when `seconds` pass first.
bool spinUntil(bool (^condition)(void), double seconds = 10) {
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while (!condition()) {
        if (deadline.timeIntervalSinceNow <= 0) return false;
        [[NSRunLoop mainRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    }
    return true;
}

NSMenuItem* menuItemFor(NSMenu* menu, SEL action) {
    for (NSMenuItem* item in menu.itemArray) {
        if (item.action == action) return item;
        if (NSMenuItem* inner = item.submenu ? menuItemFor(item.submenu, action) : nil) return inner;
    }
    return nil;
}

struct ShellTest : ::testing::Test {
    static void SetUpTestSuite() { test::startRegularApplication(); }
};

TEST_F(ShellTest, TheRootShowsTheNoticeOrTheEditorAsTheCheckSays) {
    TarvelContentView* content = [TarvelContentView contentViewWithEditorFactory:^{ return fakeEditor(); }];
    const bool installed = KarabinerEnvironment::isInstalled();
    EXPECT_EQ(bool(content.karabinerInstalled), installed);
    if (installed) {
        EXPECT_EQ(text(content.shownView.identifier), "fake-editor");
        return;
    }
    ASSERT_TRUE([content.shownView isKindOfClass:[TarvelKarabinerMissingView class]]);
    // A re-check that still finds nothing leaves the very same notice.
    TarvelKarabinerMissingView* notice = (TarvelKarabinerMissingView*)content.shownView;
    [notice.recheckButton performClick:nil];
    EXPECT_EQ(content.shownView, notice);
    EXPECT_FALSE(content.karabinerInstalled);
}

TEST_F(ShellTest, TheNoticeShowsTheTextsAsTheirOwnKeys) {
    TarvelKarabinerMissingView* notice = [TarvelKarabinerMissingView noticeWithRecheck:^{}];
    EXPECT_EQ(text(notice.downloadButton.title), KarabinerMissingTexts::downloadLabel);
    EXPECT_EQ(text(notice.recheckButton.title), KarabinerMissingTexts::recheckLabel);
    // Without a string table entry the Japanese original shows unchanged.
    EXPECT_EQ(text(tr(KarabinerMissingTexts::title)), KarabinerMissingTexts::title);

    __block int rechecks = 0;
    TarvelKarabinerMissingView* counting = [TarvelKarabinerMissingView noticeWithRecheck:^{ ++rechecks; }];
    [counting.recheckButton performClick:nil];
    EXPECT_EQ(rechecks, 1);
}

TEST_F(ShellTest, TheWindowStartsAt1180By760InTheLightAppearanceWithA900By640Minimum) {
    NSWindow* window = TarvelApp::makeWindow(^{ return fakeEditor(); });
    const NSSize content = [window contentRectForFrameRect:window.frame].size;
    EXPECT_EQ(content.width, 1180);
    EXPECT_EQ(content.height, 760);
    EXPECT_EQ(window.contentMinSize.width, 900);
    EXPECT_EQ(window.contentMinSize.height, 640);
    EXPECT_EQ(text(window.appearance.name), text(NSAppearanceNameAqua));
    EXPECT_TRUE([window.contentView isKindOfClass:[TarvelContentView class]]);
    [window close];
}

TEST_F(ShellTest, TheApplicationIsLightWithACloseItemAndTheDockBringsBackItsOneWindow) {
    NSAppearance* savedAppearance = NSApp.appearance;
    NSMenu* savedMenu = NSApp.mainMenu;
    TarvelAppDelegate* delegate = [[TarvelAppDelegate alloc] initWithEditorFactory:^{ return fakeEditor(); }];
    [delegate applicationWillFinishLaunching:[NSNotification notificationWithName:NSApplicationWillFinishLaunchingNotification
                                                                           object:NSApp]];
    // Alerts and panels follow the application's appearance, not only the window's.
    EXPECT_EQ(text(NSApp.appearance.name), text(NSAppearanceNameAqua));
    NSMenuItem* close = menuItemFor(NSApp.mainMenu, @selector(performClose:));
    ASSERT_NE(close, nil);
    EXPECT_EQ(text(close.keyEquivalent), "w");
    EXPECT_EQ(close.keyEquivalentModifierMask, NSEventModifierFlagCommand);

    EXPECT_FALSE([delegate applicationShouldHandleReopen:NSApp hasVisibleWindows:NO]);
    NSWindow* window = delegate.window;
    ASSERT_NE(window, nil);
    // Minimized: the Dock's click brings back the same one, whether it counts as visible or not.
    for (const BOOL counted : {NO, YES}) {
        [window miniaturize:nil];
        ASSERT_TRUE(spinUntil(^{ return bool(window.miniaturized); })) << "the window did not minimize";
        EXPECT_FALSE([delegate applicationShouldHandleReopen:NSApp hasVisibleWindows:counted]);
        EXPECT_EQ(delegate.window, window);
        EXPECT_TRUE(spinUntil(^{ return !window.miniaturized && window.visible; }));
    }

    // Closed (what the Close item asks of the key window): the next click makes a new one.
    [window performClose:nil];
    EXPECT_EQ(delegate.window, nil);
    [delegate applicationShouldHandleReopen:NSApp hasVisibleWindows:NO];
    EXPECT_NE(delegate.window, nil);
    EXPECT_NE(delegate.window, window);
    [delegate.window close];

    NSApp.appearance = savedAppearance;
    NSApp.mainMenu = savedMenu;
}

} // namespace

} // namespace tarvel
