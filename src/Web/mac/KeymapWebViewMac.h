#pragma once
#import <WebKit/WebKit.h>

#include "Web/KeymapWebView.h"

@class TarvelURLSchemeHandler;

// KeymapWebView.Coordinator as WebKit sees it: script message handler, UI, navigation and download
// delegate. Script messages go to the portable coordinator; dialogs and downloads to Panels;
// navigations and the death of the page's web process to the core's rules.
@interface TarvelKeymapCoordinator : NSObject <WKScriptMessageHandler, WKUIDelegate, WKNavigationDelegate, WKDownloadDelegate>
- (instancetype)initWithServices:(tarvel::KeymapWebView::Coordinator::Services)services NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;
// The view whose page receives the answers, never owned; setting it hands its page, held weakly,
// to the portable coordinator.
@property(nonatomic, weak) WKWebView* webView;
// The names of the page's messages, in the order they are registered.
@property(nonatomic, readonly) NSArray<NSString*>* messageNames;
// Keeps the resource scheme handler alive.
@property(nonatomic, strong) TarvelURLSchemeHandler* schemeHandler;
// Where downloads are saved; nil (the product): the user's Downloads folder, else the home folder.
@property(nonatomic, copy) NSURL* downloadsFolder;
@end

namespace tarvel {

// Builds KeymapWebView on WKWebView: the web view that hosts the editor page, wired to its
// coordinator. The view owns its configuration; the configuration's user content controller owns
// the coordinator.
struct KeymapWebViewMac {
    // A coordinator with the product's services: the main dispatch queue, this platform's inventory,
    // karabiner.json watched with dispatch sources and fetches over NSURLSession.
    static TarvelKeymapCoordinator* makeCoordinator();

    // The web view, loading the page from `bundle`'s WebResources/index.html, or showing the notice
    // document when the bundle has no such resource.
    static WKWebView* makeView(TarvelKeymapCoordinator* coordinator, NSBundle* bundle);

    // A request for one of the editor's addresses, as the page is loaded.
    static NSURLRequest* pageRequest(std::string_view address);
};

} // namespace tarvel
