#pragma once
#import <AppKit/AppKit.h>

// Builds the editor view.
typedef NSView* (^TarvelEditorFactory)(void);

// The window's root: the editor when Karabiner-Elements was found, the installation notice
// otherwise. The choice is made when the view is created and again only by the notice's re-check.
@interface TarvelContentView : NSView
// The product's editor: KeymapWebView from the main bundle's resources.
+ (NSView*)productEditor;
// `makeEditor` nil: the product's editor.
+ (instancetype)contentViewWithEditorFactory:(TarvelEditorFactory)makeEditor;
@property(nonatomic, readonly) BOOL karabinerInstalled;
// The editor or the notice, whichever is shown.
@property(nonatomic, readonly) NSView* shownView;
@end

namespace tarvel {

struct ContentView {
    static constexpr CGFloat minimumWidth = 900;
    static constexpr CGFloat minimumHeight = 640;
};

} // namespace tarvel
