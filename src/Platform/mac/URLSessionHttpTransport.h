#pragma once
#include "Platform/HttpTransport.h"

namespace tarvel {

// HTTP over NSURLSession: an ephemeral session for every request, with no cookies, cache or
// credential store, whose delegate follows no redirect (the caller judges each one), refuses a
// body over the limit as it arrives, and trusts the system's certificate authorities.
class URLSessionHttpTransport final : public HttpTransport {
public:
    Result<HttpResponse, HttpFailure> get(const HttpRequest& request) override;
};

} // namespace tarvel
