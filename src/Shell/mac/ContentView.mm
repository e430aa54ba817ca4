#import "Shell/mac/ContentView.h"

#include "Karabiner/KarabinerEnvironment.h"
#include "Web/mac/KeymapWebViewMac.h"
#import "Shell/mac/KarabinerMissingView.h"

@implementation TarvelContentView {
    TarvelEditorFactory _makeEditor;
}

+ (NSView*)productEditor {
    return tarvel::KeymapWebViewMac::makeView(tarvel::KeymapWebViewMac::makeCoordinator(), [NSBundle mainBundle]);
}

+ (instancetype)contentViewWithEditorFactory:(TarvelEditorFactory)makeEditor {
    TarvelContentView* content = [[self alloc] initWithFrame:NSZeroRect];
    if (makeEditor)
        content->_makeEditor = [makeEditor copy];
    else
        content->_makeEditor = ^NSView* { return [TarvelContentView productEditor]; };
    content->_karabinerInstalled = tarvel::KarabinerEnvironment::isInstalled();
    [content show];
    return content;
}

- (void)recheck {
    _karabinerInstalled = tarvel::KarabinerEnvironment::isInstalled();
    // Still missing: the notice stays as it is.
    if (_karabinerInstalled) [self show];
}

- (void)show {
    [_shownView removeFromSuperview];
    __weak TarvelContentView* weakSelf = self;
    NSView* view = _karabinerInstalled ? _makeEditor() : [TarvelKarabinerMissingView noticeWithRecheck:^{
        [weakSelf recheck];
    }];
    view.translatesAutoresizingMaskIntoConstraints = NO;
    [self addSubview:view];
    [NSLayoutConstraint activateConstraints:@[
        [view.leadingAnchor constraintEqualToAnchor:self.leadingAnchor],
        [view.trailingAnchor constraintEqualToAnchor:self.trailingAnchor],
        [view.topAnchor constraintEqualToAnchor:self.topAnchor],
        [view.bottomAnchor constraintEqualToAnchor:self.bottomAnchor],
        [view.widthAnchor constraintGreaterThanOrEqualToConstant:tarvel::ContentView::minimumWidth],
        [view.heightAnchor constraintGreaterThanOrEqualToConstant:tarvel::ContentView::minimumHeight],
    ]];
    _shownView = view;
}

@end
