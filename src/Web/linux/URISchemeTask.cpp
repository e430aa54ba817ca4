#include "Web/linux/URISchemeTask.h"

#include <libsoup/soup.h>

#include <memory>

#include "Web/KeymapWebView.h"

namespace tarvel {

URISchemeTask::URISchemeTask(WebKitURISchemeRequest* request) : request_(GObjectPtr<WebKitURISchemeRequest>::retain(request)) {}

URISchemeTask::~URISchemeTask() {
    if (!answered_) didFailWithError({std::string(SchemeError::urlErrorDomain), SchemeError::fileDoesNotExist, {}});
}

std::optional<std::string> URISchemeTask::requestURL() const {
    const char* uri = webkit_uri_scheme_request_get_uri(request_.get());
    if (!uri) return std::nullopt;
    return std::string(uri);
}

void URISchemeTask::didReceiveResponse(const SchemeResponse& response) { response_ = response; }

void URISchemeTask::didReceiveData(std::string_view bytes) { data_.append(bytes); }

std::string URISchemeTask::contentType(const SchemeResponse& response) {
    std::string type = response.mimeType;
    if (!response.textEncodingName.empty()) type += "; charset=" + response.textEncodingName;
    return type;
}

void URISchemeTask::didFinish() {
    if (answered_) return;
    answered_ = true;
    const SchemeResponse response = response_.value_or(SchemeResponse{});
    const std::string type = contentType(response);
    const auto length = static_cast<gint64>(response_ ? response.expectedContentLength : data_.size());

    GBytes* bytes = g_bytes_new(data_.data(), data_.size());
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
    g_bytes_unref(bytes);

    GObjectPtr<WebKitURISchemeResponse> answer(webkit_uri_scheme_response_new(stream.get(), length));
    webkit_uri_scheme_response_set_status(answer.get(), 200, nullptr);
    webkit_uri_scheme_response_set_content_type(answer.get(), type.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Content-Type", type.c_str());
    soup_message_headers_append(headers, "Content-Length", std::to_string(length).c_str());
    webkit_uri_scheme_response_set_http_headers(answer.get(), headers);  // takes the headers
    webkit_uri_scheme_request_finish_with_response(request_.get(), answer.get());
}

void URISchemeTask::didFailWithError(const SchemeError& error) {
    if (answered_) return;
    answered_ = true;
    const std::string message =
        error.description.empty() ? error.domain + " error " + std::to_string(error.code) : error.description;
    GError* failure = g_error_new_literal(g_quark_from_string(error.domain.c_str()), static_cast<gint>(error.code),
                                          message.c_str());
    webkit_uri_scheme_request_finish_error(request_.get(), failure);
    g_error_free(failure);
}

void registerBundleSchemeHandler(WebKitWebContext* context, std::shared_ptr<BundleSchemeHandler> handler) {
    using Handler = std::shared_ptr<BundleSchemeHandler>;
    const std::string scheme(KeymapWebView::schemeName);
    webkit_web_context_register_uri_scheme(
        context, scheme.c_str(),
        [](WebKitURISchemeRequest* request, gpointer data) {
            // Every task is answered before this returns.
            URISchemeTask task(request);
            (*static_cast<Handler*>(data))->start(task);
        },
        new Handler(std::move(handler)), [](gpointer data) { delete static_cast<Handler*>(data); });
}

} // namespace tarvel
