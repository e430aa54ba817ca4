#include "Web/BundleSchemeHandler.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "Platform/FileIO.h"
#include "Platform/Text.h"

namespace tarvel {

namespace fs = std::filesystem;

namespace {

// The percent-decoded path of a URL: no scheme, host, query or fragment.
std::string urlPath(std::string_view url) {
    auto colon = url.find(':');
    std::string_view rest = colon == std::string_view::npos ? url : url.substr(colon + 1);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        auto end = rest.find_first_of("/?#");
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    auto end = rest.find_first_of("?#");
    if (end != std::string_view::npos) rest = rest.substr(0, end);
    return percentDecoded(rest);
}

// The path without a trailing separator (except for "/" itself).
std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isInside(const std::string& candidate, const std::string& root) {
    if (candidate == root) return true;
    const std::string prefix = root.back() == '/' ? root : root + "/";
    return candidate.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> realPath(const fs::path& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return std::nullopt;
    return std::string(buffer);
}

SchemeError fileDoesNotExist(const std::string& url) {
    return {std::string(SchemeError::urlErrorDomain), SchemeError::fileDoesNotExist, "The requested file does not exist: " + url};
}

} // namespace

BundleSchemeHandler::BundleSchemeHandler(fs::path rootURL) : rootURL_(std::move(rootURL)) {}

std::optional<fs::path> BundleSchemeHandler::resolveFileURL(std::string_view forPath, const fs::path& root) {
    std::string_view path = forPath;
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    // A NUL would cut the path short at the system call, serving another file than was checked.
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    std::string relative = path.empty() ? std::string("index.html") : std::string(path);

    const std::string rootPath = withoutTrailingSlash(root.lexically_normal().string());
    // Joined as text: a path that is absolute after the first "/" must not replace the root.
    const fs::path candidate = fs::path(rootPath + "/" + relative).lexically_normal();
    if (!isInside(candidate.string(), rootPath)) return std::nullopt;

    struct stat st {};
    if (::stat(candidate.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;

    // A symbolic link inside the folder must not lead out of it.
    auto realRoot = realPath(rootPath);
    auto realCandidate = realPath(candidate);
    if (!realRoot || !realCandidate || !isInside(*realCandidate, *realRoot)) return std::nullopt;
    return candidate;
}

std::string BundleSchemeHandler::mimeType(std::string_view forExtension) {
    std::string extension(forExtension);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    static constexpr std::pair<std::string_view, std::string_view> table[] = {
        {"html", "text/html"},      {"js", "application/javascript"}, {"mjs", "application/javascript"},
        {"css", "text/css"},        {"json", "application/json"},     {"png", "image/png"},
        {"svg", "image/svg+xml"},   {"woff2", "font/woff2"},          {"woff", "font/woff"},
        {"ico", "image/x-icon"},    {"gz", "application/gzip"},
    };
    for (const auto& [key, type] : table)
        if (extension == key) return std::string(type);
    return "application/octet-stream";
}

void BundleSchemeHandler::start(SchemeTask& task) const {
    auto url = task.requestURL();
    if (!url) {
        task.didFailWithError(fileDoesNotExist(""));
        return;
    }
    auto file = resolveFileURL(urlPath(*url), rootURL_);
    if (!file) {
        task.didFailWithError(fileDoesNotExist(*url));
        return;
    }
    // The file is opened from the real folder name by name, following no link: a link swapped in
    // since the check above is refused, never followed out of the folder.
    auto realRoot = realPath(withoutTrailingSlash(rootURL_.lexically_normal().string()));
    auto realFile = realPath(*file);
    if (!realRoot || !realFile || !isInside(*realFile, *realRoot) || *realFile == *realRoot) {
        task.didFailWithError(fileDoesNotExist(*url));
        return;
    }
    auto content = readFileBeneath(*realRoot, fs::path(*realFile).lexically_relative(*realRoot));
    if (!content) {
        task.didFailWithError({"NSPOSIXErrorDomain", content.error().code, content.error().localizedDescription()});
        return;
    }
    const std::string& bytes = content->bytes;
    std::string extension = file->extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    task.didReceiveResponse({*url, mimeType(extension), bytes.size(), "utf-8"});
    task.didReceiveData(bytes);
    task.didFinish();
}

} // namespace tarvel
