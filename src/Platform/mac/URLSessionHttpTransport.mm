#include "Platform/mac/URLSessionHttpTransport.h"

#import <Foundation/Foundation.h>

#include <algorithm>

// One request's delegate: what arrived, and a semaphore signalled when the task ends.
@interface TarvelFetchDelegate : NSObject <NSURLSessionDataDelegate>
- (instancetype)initWithLimit:(NSUInteger)maxBytes;
@property(nonatomic, readonly) dispatch_semaphore_t finished;
@property(nonatomic, readonly) NSMutableData* body;
@property(nonatomic, readonly) NSHTTPURLResponse* response;
@property(nonatomic, readonly) NSError* error;
@property(nonatomic, readonly) BOOL tooLarge;
@end

@implementation TarvelFetchDelegate {
    NSUInteger _maxBytes;
}

- (instancetype)initWithLimit:(NSUInteger)maxBytes {
    if ((self = [super init])) {
        _maxBytes = maxBytes;
        _finished = dispatch_semaphore_create(0);
        _body = [NSMutableData data];
    }
    return self;
}

// Redirects are the caller's to judge: the 3xx answer itself is the result.
- (void)URLSession:(NSURLSession*)session
                          task:(NSURLSessionTask*)task
    willPerformHTTPRedirection:(NSHTTPURLResponse*)response
                    newRequest:(NSURLRequest*)request
             completionHandler:(void (^)(NSURLRequest*))completionHandler {
    completionHandler(nil);
}

- (void)URLSession:(NSURLSession*)session
              dataTask:(NSURLSessionDataTask*)dataTask
    didReceiveResponse:(NSURLResponse*)response
     completionHandler:(void (^)(NSURLSessionResponseDisposition))completionHandler {
    _response = [response isKindOfClass:[NSHTTPURLResponse class]] ? (NSHTTPURLResponse*)response : nil;
    const NSInteger status = _response ? _response.statusCode : 0;
    // Only a success's body is read, and one announced over the limit not at all.
    if (status < 200 || status > 299) {
        completionHandler(NSURLSessionResponseCancel);
        return;
    }
    if (response.expectedContentLength != NSURLResponseUnknownLength &&
        response.expectedContentLength > static_cast<long long>(_maxBytes)) {
        _tooLarge = YES;
        completionHandler(NSURLSessionResponseCancel);
        return;
    }
    completionHandler(NSURLSessionResponseAllow);
}

- (void)URLSession:(NSURLSession*)session dataTask:(NSURLSessionDataTask*)dataTask didReceiveData:(NSData*)data {
    if (_tooLarge) return;
    if (_body.length + data.length > _maxBytes) {
        _tooLarge = YES;
        [dataTask cancel];
        return;
    }
    [_body appendData:data];
}

- (void)URLSession:(NSURLSession*)session task:(NSURLSessionTask*)task didCompleteWithError:(NSError*)error {
    _error = error;
    dispatch_semaphore_signal(_finished);
}

@end

namespace tarvel {

namespace {

bool isCertificateProblem(NSError* error) {
    if (![error.domain isEqualToString:NSURLErrorDomain]) return false;
    switch (error.code) {
    case NSURLErrorSecureConnectionFailed:
    case NSURLErrorServerCertificateHasBadDate:
    case NSURLErrorServerCertificateUntrusted:
    case NSURLErrorServerCertificateHasUnknownRoot:
    case NSURLErrorServerCertificateNotYetValid:
    case NSURLErrorClientCertificateRejected:
    case NSURLErrorClientCertificateRequired:
        return true;
    default:
        return false;
    }
}

std::string text(NSString* value) {
    const char* bytes = value.UTF8String;
    return bytes ? bytes : "";
}

} // namespace

Result<HttpResponse, HttpFailure> URLSessionHttpTransport::get(const HttpRequest& request) {
    @autoreleasepool {
        NSString* address = [NSString stringWithUTF8String:request.url.c_str()];
        NSURL* url = address ? [NSURL URLWithString:address] : nil;
        if (!url) return unexpected(HttpFailure{HttpFailure::Kind::offline, "the address cannot be used"});
        const double seconds = std::max(
            0.001, std::chrono::duration<double>(request.deadline - std::chrono::steady_clock::now()).count());

        NSURLSessionConfiguration* configuration = [NSURLSessionConfiguration ephemeralSessionConfiguration];
        configuration.HTTPCookieStorage = nil;
        configuration.HTTPShouldSetCookies = NO;
        configuration.URLCache = nil;
        configuration.URLCredentialStorage = nil;
        configuration.requestCachePolicy = NSURLRequestReloadIgnoringLocalCacheData;
        configuration.timeoutIntervalForRequest = seconds;
        configuration.timeoutIntervalForResource = seconds;

        TarvelFetchDelegate* delegate = [[TarvelFetchDelegate alloc] initWithLimit:request.maxBodyBytes];
        NSOperationQueue* delegateQueue = [[NSOperationQueue alloc] init];
        delegateQueue.maxConcurrentOperationCount = 1;
        NSURLSession* session = [NSURLSession sessionWithConfiguration:configuration delegate:delegate delegateQueue:delegateQueue];
        NSMutableURLRequest* urlRequest = [NSMutableURLRequest requestWithURL:url];
        [urlRequest setValue:@"application/json, */*" forHTTPHeaderField:@"Accept"];
        NSURLSessionDataTask* task = [session dataTaskWithRequest:urlRequest];
        [task resume];

        // Waited for in slices, so that the deadline and a closing application end it early.
        bool timedOut = false, stopped = false;
        while (dispatch_semaphore_wait(delegate.finished, dispatch_time(DISPATCH_TIME_NOW, 50 * NSEC_PER_MSEC)) != 0) {
            if (timedOut || stopped) continue;
            if (request.stopRequested && request.stopRequested->load()) stopped = true;
            else if (std::chrono::steady_clock::now() >= request.deadline) timedOut = true;
            if (timedOut || stopped) [task cancel];
        }
        // The session keeps its delegate until it is invalidated.
        [session invalidateAndCancel];

        if (stopped) return unexpected(HttpFailure{HttpFailure::Kind::stopped, "stopped"});
        if (timedOut) return unexpected(HttpFailure{HttpFailure::Kind::timeout, "no answer in time"});
        if (delegate.tooLarge) return unexpected(HttpFailure{HttpFailure::Kind::tooLarge, ""});
        NSHTTPURLResponse* response = delegate.response;
        const NSInteger status = response ? response.statusCode : 0;
        const bool succeeded = status >= 200 && status <= 299;
        // A task cancelled on purpose after the headers of an answer that is not a success counts as
        // that answer.
        if (delegate.error && (succeeded || !response)) {
            NSError* error = delegate.error;
            if ([error.domain isEqualToString:NSURLErrorDomain] && error.code == NSURLErrorTimedOut)
                return unexpected(HttpFailure{HttpFailure::Kind::timeout, text(error.localizedDescription)});
            if (isCertificateProblem(error))
                return unexpected(HttpFailure{HttpFailure::Kind::untrusted, text(error.localizedDescription)});
            return unexpected(HttpFailure{HttpFailure::Kind::offline, text(error.localizedDescription)});
        }
        HttpResponse result;
        result.status = static_cast<int>(status);
        if (NSString* location = [response valueForHTTPHeaderField:@"Location"]) result.location = text(location);
        if (succeeded) result.body.assign(static_cast<const char*>(delegate.body.bytes), delegate.body.length);
        return result;
    }
}

} // namespace tarvel
