#pragma once
#include <webkit/webkit.h>

#include <optional>
#include <string>

#include "Web/BundleSchemeHandler.h"
#include "Web/linux/GObjectPtr.h"

namespace tarvel {

// A scheme task over one WebKitURISchemeRequest. The response and the data are collected and
// handed to WebKit together at the finish, with a Content-Type header (the page's fetch sees no
// type otherwise). A task that is dropped unanswered fails its request rather than leaving the
// page waiting forever.
class URISchemeTask : public SchemeTask {
public:
    explicit URISchemeTask(WebKitURISchemeRequest* request);
    ~URISchemeTask() override;
    URISchemeTask(const URISchemeTask&) = delete;
    URISchemeTask& operator=(const URISchemeTask&) = delete;

    std::optional<std::string> requestURL() const override;
    void didReceiveResponse(const SchemeResponse& response) override;
    void didReceiveData(std::string_view bytes) override;
    void didFinish() override;
    void didFailWithError(const SchemeError& error) override;

    // The Content-Type value for a MIME type and text encoding name ("text/css; charset=utf-8").
    static std::string contentType(const SchemeResponse& response);

private:
    GObjectPtr<WebKitURISchemeRequest> request_;
    std::optional<SchemeResponse> response_;
    std::string data_;
    bool answered_ = false;
};

// Registers `handler` on `context` for the "tarvelresource" scheme; the context keeps it alive.
void registerBundleSchemeHandler(WebKitWebContext* context, std::shared_ptr<BundleSchemeHandler> handler);

} // namespace tarvel
