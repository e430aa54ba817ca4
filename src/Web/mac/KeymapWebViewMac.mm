#include "Web/mac/KeymapWebViewMac.h"

#import <AppKit/AppKit.h>

#include <chrono>
#include <memory>
#include <string>

#include "Apps/PlatformInventory.h"
#include "Platform/mac/DispatchFolderMonitor.h"
#include "Platform/mac/URLSessionHttpTransport.h"
#include "Web/NavigationPolicy.h"
#include "Web/mac/DispatchMainQueue.h"
#include "Web/mac/Panels.h"
#include "Web/mac/URLSchemeTask.h"
#include "Web/mac/WKWebViewPage.h"

namespace {

NSString* text(std::string_view value) {
    return [[NSString alloc] initWithBytes:value.data() length:value.size() encoding:NSUTF8StringEncoding];
}

std::string_view utf8(NSString* value) {
    const char* bytes = value.UTF8String;
    return bytes ? bytes : "";
}

// The script value as JSON text: what WebKit converted it into (dictionaries, arrays, strings,
// numbers, Booleans, null), serialized. No body, and anything JSON cannot carry (a date, a
// non-finite number), arrive as empty text, which no apply body accepts.
std::string messageBody(id body) {
    if (!body) return {};
    NSArray* wrapped = @[ body ];  // an array, so that a bare string or number is valid too
    if (![NSJSONSerialization isValidJSONObject:wrapped]) return {};
    NSData* data = [NSJSONSerialization dataWithJSONObject:wrapped options:0 error:nullptr];
    if (!data || data.length < 2) return {};
    // Unwrap: the text between the outer brackets.
    const auto* bytes = static_cast<const char*>(data.bytes);
    return std::string(bytes + 1, data.length - 2);
}

// The origin of the frame that posted, as an address: what the frame's document really is, which
// its request's URL need not say (a sandboxed frame has an opaque origin, an empty address here).
std::string frameOrigin(WKFrameInfo* frame) {
    WKSecurityOrigin* origin = frame.securityOrigin;
    if (origin.protocol.length == 0 || origin.host.length == 0) return {};
    std::string address = std::string(utf8(origin.protocol)) + "://" + std::string(utf8(origin.host));
    if (origin.port != 0) address += ":" + std::to_string(origin.port);
    return address + "/";
}

} // namespace

@implementation TarvelKeymapCoordinator {
    std::unique_ptr<tarvel::KeymapWebView::Coordinator> _core;
    std::shared_ptr<tarvel::WebPage> _page;
    tarvel::WebProcessRecovery _recovery;
    // Where each running download is saved, for the message when it fails.
    NSMapTable<WKDownload*, NSURL*>* _destinations;
}

- (instancetype)initWithServices:(tarvel::KeymapWebView::Coordinator::Services)services {
    if ((self = [super init])) {
        _core = std::make_unique<tarvel::KeymapWebView::Coordinator>(std::move(services));
        _destinations = [NSMapTable weakToStrongObjectsMapTable];
    }
    return self;
}

- (void)setWebView:(WKWebView*)webView {
    _webView = webView;
    _page = webView ? std::make_shared<tarvel::WKWebViewPage>(webView) : nullptr;
    _core->webView = _page;
}

- (NSArray<NSString*>*)messageNames {
    NSMutableArray<NSString*>* names = [NSMutableArray array];
    for (auto name : _core->messageNames()) [names addObject:text(name)];
    return names;
}

// Script messages.

- (void)userContentController:(WKUserContentController*)userContentController
      didReceiveScriptMessage:(WKScriptMessage*)message {
    _core->userContentControllerDidReceive(utf8(message.name), messageBody(message.body), frameOrigin(message.frameInfo));
}

// Navigations: only the editor's own documents are shown; a web link the user clicked opens in the
// default browser, and the page's export becomes a download.

- (void)webView:(WKWebView*)webView
    decidePolicyForNavigationAction:(WKNavigationAction*)navigationAction
                        preferences:(WKWebpagePreferences*)preferences
                    decisionHandler:(void (^)(WKNavigationActionPolicy, WKWebpagePreferences*))decisionHandler {
    NSURL* url = navigationAction.request.URL;
    WKFrameInfo* target = navigationAction.targetFrame;  // nil: a new window, which would be a main frame
    const std::string address(utf8(url.absoluteString));
    switch (tarvel::decideNavigation({
        .url = address,
        .mainFrame = target == nil || target.mainFrame,
        .userActivated = navigationAction.navigationType == WKNavigationTypeLinkActivated,
        .wantsDownload = bool(navigationAction.shouldPerformDownload),  // BOOL is a signed char on Intel
    })) {
    case tarvel::NavigationDecision::allow: decisionHandler(WKNavigationActionPolicyAllow, preferences); return;
    case tarvel::NavigationDecision::download: decisionHandler(WKNavigationActionPolicyDownload, preferences); return;
    case tarvel::NavigationDecision::openInBrowser:
        [[NSWorkspace sharedWorkspace] openURL:url];
        decisionHandler(WKNavigationActionPolicyCancel, preferences);
        return;
    case tarvel::NavigationDecision::cancel: decisionHandler(WKNavigationActionPolicyCancel, preferences); return;
    }
    decisionHandler(WKNavigationActionPolicyCancel, preferences);
}

// The page's web process died: reload the page once; a second death within a minute leaves a notice,
// with the view cut off from the coordinator as when the page is missing.
// A new document: answers to what an earlier one asked must not resolve its requests.
- (void)webView:(WKWebView*)webView didCommitNavigation:(WKNavigation*)navigation {
    _core->documentChanged();
}

- (void)webViewWebContentProcessDidTerminate:(WKWebView*)webView {
    _core->documentChanged();
    switch (_recovery.webProcessTerminated(std::chrono::steady_clock::now())) {
    case tarvel::WebProcessRecovery::Action::reload:
        [webView loadRequest:tarvel::KeymapWebViewMac::pageRequest(tarvel::KeymapWebView::recoveredPageAddress)];
        return;
    case tarvel::WebProcessRecovery::Action::showNotice:
        webView.navigationDelegate = nil;
        webView.UIDelegate = nil;
        if (self.webView == webView) self.webView = nil;
        [webView loadHTMLString:text(tarvel::KeymapWebView::stoppedNoticeDocument()) baseURL:nil];
        return;
    }
}

// Panels.

- (void)webView:(WKWebView*)webView
    runOpenPanelWithParameters:(WKOpenPanelParameters*)parameters
              initiatedByFrame:(WKFrameInfo*)frame
             completionHandler:(void (^)(NSArray<NSURL*>*))completionHandler {
    tarvel::Panels::runOpenPanel(parameters, completionHandler);
}

- (void)webView:(WKWebView*)webView
    runJavaScriptAlertPanelWithMessage:(NSString*)message
                      initiatedByFrame:(WKFrameInfo*)frame
                     completionHandler:(void (^)(void))completionHandler {
    tarvel::Panels::runAlert(message);
    completionHandler();
}

- (void)webView:(WKWebView*)webView
    runJavaScriptConfirmPanelWithMessage:(NSString*)message
                        initiatedByFrame:(WKFrameInfo*)frame
                       completionHandler:(void (^)(BOOL))completionHandler {
    completionHandler(tarvel::Panels::runConfirm(message));
}

// Downloads: where they go, and a message when one fails.

- (void)webView:(WKWebView*)webView navigationAction:(WKNavigationAction*)navigationAction didBecomeDownload:(WKDownload*)download {
    download.delegate = self;
}

- (void)webView:(WKWebView*)webView
    navigationResponse:(WKNavigationResponse*)navigationResponse
     didBecomeDownload:(WKDownload*)download {
    download.delegate = self;
}

- (void)download:(WKDownload*)download
    decideDestinationUsingResponse:(NSURLResponse*)response
                 suggestedFilename:(NSString*)suggestedFilename
                 completionHandler:(void (^)(NSURL*))completionHandler {
    NSURL* destination = tarvel::Panels::downloadDestination(suggestedFilename, self.downloadsFolder);
    [_destinations setObject:destination forKey:download];
    completionHandler(destination);
}

- (void)downloadDidFinish:(WKDownload*)download {
    [_destinations removeObjectForKey:download];
}

- (void)download:(WKDownload*)download didFailWithError:(NSError*)error resumeData:(NSData*)resumeData {
    NSURL* destination = [_destinations objectForKey:download];
    [_destinations removeObjectForKey:download];
    tarvel::Panels::showDownloadFailure(destination, error, self.webView.window);
}

@end

namespace tarvel {

NSURLRequest* KeymapWebViewMac::pageRequest(std::string_view address) {
    return [NSURLRequest requestWithURL:[NSURL URLWithString:text(address)]
                            cachePolicy:NSURLRequestUseProtocolCachePolicy
                        timeoutInterval:static_cast<NSTimeInterval>(KeymapWebView::pageRequestTimeout.count())];
}

TarvelKeymapCoordinator* KeymapWebViewMac::makeCoordinator() {
    KeymapWebView::Coordinator::Services services{
        .mainQueue = std::make_shared<DispatchMainQueue>(),
        .collectInventory = collectPlatformInventory,
        .folderMonitor = std::make_shared<DispatchFolderMonitor>(),
        .httpTransport = std::make_shared<URLSessionHttpTransport>(),
    };
    return [[TarvelKeymapCoordinator alloc] initWithServices:std::move(services)];
}

WKWebView* KeymapWebViewMac::makeView(TarvelKeymapCoordinator* coordinator, NSBundle* bundle) {
    // 1. The configuration and its user content controller.
    WKWebViewConfiguration* configuration = [[WKWebViewConfiguration alloc] init];
    WKUserContentController* userContentController = [[WKUserContentController alloc] init];

    // 2. The coordinator handles every message of its table, "tarvelApply" first.
    for (NSString* name in coordinator.messageNames)
        [userContentController addScriptMessageHandler:coordinator name:name];
    configuration.userContentController = userContentController;

    // 3. The page among the bundle's resources.
    NSString* pageFile = text(KeymapWebView::pageFileName);
    NSURL* page = [bundle URLForResource:pageFile.stringByDeletingPathExtension
                           withExtension:pageFile.pathExtension
                            subdirectory:text(KeymapWebView::resourceFolder)];

    if (page) {
        // 4.1-4.2 The root is the page's folder, standardized; the configuration and the
        //         coordinator keep the scheme handler.
        NSURL* root = page.URLByDeletingLastPathComponent.URLByStandardizingPath;
        TarvelURLSchemeHandler* handler = [[TarvelURLSchemeHandler alloc] initWithRootURL:root];
        [configuration setURLSchemeHandler:handler forURLScheme:text(KeymapWebView::schemeName)];
        coordinator.schemeHandler = handler;

        // 4.3-4.4 The view, its delegates, and the coordinator's weak reference to it.
        WKWebView* view = [[WKWebView alloc] initWithFrame:NSZeroRect configuration:configuration];
        view.UIDelegate = coordinator;
        view.navigationDelegate = coordinator;
        coordinator.webView = view;

        // 4.5 The page.
        [view loadRequest:pageRequest(KeymapWebView::pageAddress)];
        return view;
    }

    // 5. No scheme handler, no delegates, no view for the coordinator: the notice alone.
    WKWebView* view = [[WKWebView alloc] initWithFrame:NSZeroRect configuration:configuration];
    [view loadHTMLString:text(KeymapWebView::noticeDocument()) baseURL:nil];
    return view;
}

} // namespace tarvel
