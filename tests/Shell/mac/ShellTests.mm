// The application shell on AppKit: the window, the notice and its re-check, with a stand-in editor.
#include <gtest/gtest.h>

#include "Karabiner/KarabinerEnvironment.h"
#import "Shell/mac/ContentView.h"
#import "Shell/mac/KarabinerMissingView.h"
#import "Shell/mac/TarvelApp.h"

namespace tarvel {

namespace {

NSView* fakeEditor() {
    NSView* editor = [[NSView alloc] initWithFrame:NSZeroRect];
    editor.identifier = @"fake-editor";
    return editor;
}

std::string text(NSString* value) { return value.UTF8String; }

struct ShellTest : ::testing::Test {
    void SetUp() override { [NSApplication sharedApplication]; }
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

} // namespace

} // namespace tarvel
