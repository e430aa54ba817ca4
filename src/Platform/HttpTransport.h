#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "Platform/Result.h"

namespace tarvel {

// One GET request as the transport makes it. The caller has checked the address.
struct HttpRequest {
    std::string url;  // absolute, https
    // A body longer than this is not read to its end: the request fails with tooLarge.
    std::size_t maxBodyBytes = 0;
    // By then the request has an answer, or fails with timeout.
    std::chrono::steady_clock::time_point deadline;
    // Set from another thread when the answer is no longer wanted: the request fails with stopped.
    const std::atomic<bool>* stopRequested = nullptr;
};

struct HttpResponse {
    int status = 0;
    std::string location;  // the Location header as sent, empty when there is none
    std::string body;      // read only for a status from 200 to 299
};

struct HttpFailure {
    enum class Kind {
        offline,    // no answer: no network, the name not found, the connection refused or cut
        timeout,    // the deadline passed
        tooLarge,   // the body is longer than maxBodyBytes
        untrusted,  // the server's certificate is not trusted, or the TLS handshake failed
        stopped,    // stopRequested was set
    };
    Kind kind = Kind::offline;
    std::string detail;  // the platform's English text, for the user
};

// Makes one HTTP request and follows no redirect (the caller decides whether to go on). Nothing is
// kept between requests: no cookies, no cache, no credentials. Called on a worker thread.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    virtual Result<HttpResponse, HttpFailure> get(const HttpRequest& request) = 0;
};

} // namespace tarvel
