#include "Web/mac/URLSchemeTask.h"

#include <string>

namespace tarvel {

URLSchemeTask::~URLSchemeTask() {
    if (!ended_) didFailWithError({std::string(SchemeError::urlErrorDomain), SchemeError::fileDoesNotExist, {}});
}

bool URLSchemeTask::mayAnswer() const { return !ended_ && ![stoppedTasks_ containsObject:task_]; }

std::optional<std::string> URLSchemeTask::requestURL() const {
    NSURL* url = task_.request.URL;
    if (!url || !url.absoluteString) return std::nullopt;
    return std::string(url.absoluteString.UTF8String);
}

void URLSchemeTask::didReceiveResponse(const SchemeResponse& response) {
    if (!mayAnswer() || responded_) return;
    responded_ = true;
    // An HTTP response, so that the page's fetch sees status 200 and the headers: a plain URL
    // response reaches it as status 0 without any. The request's URL (which the portable response
    // names), not the file's.
    std::string type = response.mimeType;
    if (!response.textEncodingName.empty()) type += "; charset=" + response.textEncodingName;
    NSDictionary<NSString*, NSString*>* headers = @{
        @"Content-Type" : @(type.c_str()),
        @"Content-Length" : @(std::to_string(response.expectedContentLength).c_str()),
    };
    NSHTTPURLResponse* answer = [[NSHTTPURLResponse alloc] initWithURL:task_.request.URL
                                                            statusCode:200
                                                           HTTPVersion:@"HTTP/1.1"
                                                          headerFields:headers];
    [task_ didReceiveResponse:answer];
}

void URLSchemeTask::didReceiveData(std::string_view bytes) {
    if (!mayAnswer() || !responded_) return;
    [task_ didReceiveData:[NSData dataWithBytes:bytes.data() length:bytes.size()]];
}

void URLSchemeTask::didFinish() {
    if (!mayAnswer() || !responded_) return;
    ended_ = true;
    [task_ didFinish];
}

void URLSchemeTask::didFailWithError(const SchemeError& error) {
    if (!mayAnswer()) {
        ended_ = true;
        return;
    }
    ended_ = true;
    // URL errors carry no user information: Foundation describes them by their code.
    NSDictionary* userInfo = @{};
    if (error.domain != SchemeError::urlErrorDomain && !error.description.empty())
        userInfo = @{NSLocalizedDescriptionKey : @(error.description.c_str())};
    [task_ didFailWithError:[NSError errorWithDomain:@(error.domain.c_str()) code:error.code userInfo:userInfo]];
}

} // namespace tarvel

@implementation TarvelURLSchemeHandler {
    std::shared_ptr<tarvel::BundleSchemeHandler> _handler;
    NSHashTable* _stoppedTasks;
}

- (instancetype)initWithRootURL:(NSURL*)rootURL {
    if ((self = [super init])) {
        _rootURL = rootURL;
        _handler = std::make_shared<tarvel::BundleSchemeHandler>(rootURL.fileSystemRepresentation);
        _stoppedTasks = [NSHashTable weakObjectsHashTable];
    }
    return self;
}

- (void)webView:(WKWebView*)webView startURLSchemeTask:(id<WKURLSchemeTask>)urlSchemeTask {
    tarvel::URLSchemeTask task(urlSchemeTask, _stoppedTasks);
    _handler->start(task);
}

- (void)webView:(WKWebView*)webView stopURLSchemeTask:(id<WKURLSchemeTask>)urlSchemeTask {
    [_stoppedTasks addObject:urlSchemeTask];
}

@end
