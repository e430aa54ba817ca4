#pragma once
#include <filesystem>
#include <optional>

#include "Platform/HttpTransport.h"

namespace tarvel {

// HTTP over libsoup 3: a session of its own for every request (no cookies, cache or credentials
// kept), run on the calling worker thread's own main context. The product trusts the system's
// certificate authorities; tests name a file of their own instead.
class SoupHttpTransport final : public HttpTransport {
public:
    explicit SoupHttpTransport(std::optional<std::filesystem::path> trustedAuthoritiesForTests = std::nullopt);

    Result<HttpResponse, HttpFailure> get(const HttpRequest& request) override;

private:
    std::optional<std::filesystem::path> trustedAuthorities_;
};

} // namespace tarvel
