#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

struct SchemeResponse {
    std::string url;  // the request's URL, not the file's
    std::string mimeType;
    std::size_t expectedContentLength = 0;
    std::string textEncodingName;
};

struct SchemeError {
    std::string domain;
    long code = 0;
    std::string description;

    static constexpr std::string_view urlErrorDomain = "NSURLErrorDomain";
    static constexpr long fileDoesNotExist = -1100;
};

// One request of the resource scheme, as the web engine hands it over. It is answered either with
// a response, the data and a finish, or with one failure.
class SchemeTask {
public:
    virtual ~SchemeTask() = default;
    virtual std::optional<std::string> requestURL() const = 0;
    virtual void didReceiveResponse(const SchemeResponse& response) = 0;
    virtual void didReceiveData(std::string_view bytes) = 0;
    virtual void didFinish() = 0;
    virtual void didFailWithError(const SchemeError& error) = 0;
};

// Serves the editor's files from one folder under the "tarvelresource" scheme and never anything
// outside it.
class BundleSchemeHandler {
public:
    explicit BundleSchemeHandler(std::filesystem::path rootURL);

    // Answers the task completely before returning.
    void start(SchemeTask& task) const;
    // Nothing is ever in flight when the engine stops a task.
    void stop(SchemeTask&) const {}

    const std::filesystem::path& rootURL() const noexcept { return rootURL_; }

    // The file to serve for a request path (already percent-decoded), or none.
    static std::optional<std::filesystem::path> resolveFileURL(std::string_view forPath, const std::filesystem::path& root);
    // MIME type by file-name extension (case-insensitive).
    static std::string mimeType(std::string_view forExtension);

private:
    std::filesystem::path rootURL_;
};

} // namespace tarvel
