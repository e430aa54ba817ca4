#pragma once
#import <AppKit/AppKit.h>

#include "Shell/KarabinerMissingTexts.h"

// The notice shown instead of the editor while Karabiner-Elements is missing: what is missing, a
// button to its download page and a button to check again.
@interface TarvelKarabinerMissingView : NSView
// `onRecheck` runs when the user asks to check again.
+ (instancetype)noticeWithRecheck:(void (^)(void))onRecheck;
@property(nonatomic, readonly) NSButton* downloadButton;
@property(nonatomic, readonly) NSButton* recheckButton;
@end

namespace tarvel {

struct KarabinerMissingView {
    static constexpr const char* symbolName = "keyboard";
    static constexpr CGFloat symbolPointSize = 40;
    static constexpr CGFloat itemSpacing = 16;
    static constexpr CGFloat buttonSpacing = 10;
    static constexpr CGFloat inset = 40;
    static constexpr CGFloat explanationWidth = 360;
};

// A user-visible text: its Japanese original is the key of the application's string table; a
// translation replaces it, and without one it shows as it is.
NSString* tr(const char* key);

} // namespace tarvel
