#pragma once
#import <WebKit/WebKit.h>

#include <memory>
#include <optional>
#include <string>

#include "Web/BundleSchemeHandler.h"

// The "tarvelresource" scheme handler that WebKit calls: each task goes to the portable
// BundleSchemeHandler and is answered before start returns. Remembers the tasks WebKit stopped.
@interface TarvelURLSchemeHandler : NSObject <WKURLSchemeHandler>
- (instancetype)initWithRootURL:(NSURL*)rootURL NS_DESIGNATED_INITIALIZER;
- (instancetype)init NS_UNAVAILABLE;
@property(nonatomic, readonly) NSURL* rootURL;
@end

namespace tarvel {

// A scheme task over one WKURLSchemeTask. A task that WebKit stopped is never answered again (WebKit
// raises an exception for that); one that is dropped unanswered fails rather than leaving the page
// waiting.
class URLSchemeTask : public SchemeTask {
public:
    URLSchemeTask(id<WKURLSchemeTask> task, NSHashTable* stoppedTasks) : task_(task), stoppedTasks_(stoppedTasks) {}
    ~URLSchemeTask() override;
    URLSchemeTask(const URLSchemeTask&) = delete;
    URLSchemeTask& operator=(const URLSchemeTask&) = delete;

    std::optional<std::string> requestURL() const override;
    void didReceiveResponse(const SchemeResponse& response) override;
    void didReceiveData(std::string_view bytes) override;
    void didFinish() override;
    void didFailWithError(const SchemeError& error) override;

private:
    bool mayAnswer() const;

    id<WKURLSchemeTask> task_;
    NSHashTable* stoppedTasks_;
    bool responded_ = false;
    bool ended_ = false;
};

} // namespace tarvel
