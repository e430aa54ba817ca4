#import "Shell/mac/KarabinerMissingView.h"

#include "Karabiner/KarabinerEnvironment.h"

namespace tarvel {

NSString* tr(const char* key) {
    return [[NSBundle mainBundle] localizedStringForKey:@(key) value:nil table:nil];
}

} // namespace tarvel

using tarvel::KarabinerMissingTexts;
using tarvel::KarabinerMissingView;
using tarvel::tr;

@implementation TarvelKarabinerMissingView {
    void (^_onRecheck)(void);
}

+ (instancetype)noticeWithRecheck:(void (^)(void))onRecheck {
    TarvelKarabinerMissingView* notice = [[self alloc] initWithFrame:NSZeroRect];
    notice->_onRecheck = [onRecheck copy];
    [notice addStack];
    return notice;
}

- (void)addStack {
    NSImageView* symbol = [NSImageView
        imageViewWithImage:[NSImage imageWithSystemSymbolName:@(KarabinerMissingView::symbolName) accessibilityDescription:nil]];
    symbol.symbolConfiguration = [NSImageSymbolConfiguration configurationWithPointSize:KarabinerMissingView::symbolPointSize
                                                                                 weight:NSFontWeightRegular];
    symbol.contentTintColor = [NSColor secondaryLabelColor];

    NSTextField* title = [NSTextField labelWithString:tr(KarabinerMissingTexts::title)];
    title.font = [NSFont systemFontOfSize:17 weight:NSFontWeightSemibold];

    NSTextField* explanation = [NSTextField wrappingLabelWithString:tr(KarabinerMissingTexts::explanation)];
    explanation.font = [NSFont systemFontOfSize:13];
    explanation.textColor = [NSColor secondaryLabelColor];
    explanation.alignment = NSTextAlignmentCenter;
    explanation.preferredMaxLayoutWidth = KarabinerMissingView::explanationWidth;
    [explanation.widthAnchor constraintLessThanOrEqualToConstant:KarabinerMissingView::explanationWidth].active = YES;

    // Bordered prominent (filled with the accent colour), then bordered.
    _downloadButton = [NSButton buttonWithTitle:tr(KarabinerMissingTexts::downloadLabel) target:self action:@selector(download:)];
    _downloadButton.bezelColor = [NSColor controlAccentColor];
    _recheckButton = [NSButton buttonWithTitle:tr(KarabinerMissingTexts::recheckLabel) target:self action:@selector(recheck:)];
    NSStackView* buttons = [NSStackView stackViewWithViews:@[ _downloadButton, _recheckButton ]];
    buttons.orientation = NSUserInterfaceLayoutOrientationHorizontal;
    buttons.alignment = NSLayoutAttributeCenterY;
    buttons.spacing = KarabinerMissingView::buttonSpacing;

    NSStackView* stack = [NSStackView stackViewWithViews:@[ symbol, title, explanation, buttons ]];
    stack.orientation = NSUserInterfaceLayoutOrientationVertical;
    stack.alignment = NSLayoutAttributeCenterX;
    stack.spacing = KarabinerMissingView::itemSpacing;
    stack.translatesAutoresizingMaskIntoConstraints = NO;
    [self addSubview:stack];
    const CGFloat inset = KarabinerMissingView::inset;
    [NSLayoutConstraint activateConstraints:@[
        [stack.centerXAnchor constraintEqualToAnchor:self.centerXAnchor],
        [stack.centerYAnchor constraintEqualToAnchor:self.centerYAnchor],
        [stack.leadingAnchor constraintGreaterThanOrEqualToAnchor:self.leadingAnchor constant:inset],
        [stack.topAnchor constraintGreaterThanOrEqualToAnchor:self.topAnchor constant:inset],
    ]];
}

// The very light grey behind the whole framed area.
- (void)drawRect:(NSRect)dirtyRect {
    [[NSColor colorWithSRGBRed:0.965 green:0.965 blue:0.964 alpha:1.0] setFill];
    NSRectFill(dirtyRect);
}

- (BOOL)isOpaque {
    return YES;
}

- (void)download:(id)sender {
    // Opened in the default browser; a failure is ignored.
    [[NSWorkspace sharedWorkspace] openURL:[NSURL URLWithString:@(tarvel::KarabinerEnvironment::downloadURL().c_str())]];
}

- (void)recheck:(id)sender {
    if (_onRecheck) _onRecheck();
}

@end
