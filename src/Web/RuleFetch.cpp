#include "Web/RuleFetch.h"

#include <algorithm>
#include <cctype>

#include "Platform/Text.h"

namespace tarvel {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

std::string_view trimmed(std::string_view text) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view withoutFragment(std::string_view url) { return url.substr(0, std::min(url.find('#'), url.size())); }

// An address split as RFC 3986's appendix B does it.
struct Parts {
    std::optional<std::string> scheme, authority, query;
    std::string path;
};

Parts split(std::string_view url) {
    Parts parts;
    url = withoutFragment(url);
    if (auto colon = url.find_first_of(":/?"); colon != std::string_view::npos && url[colon] == ':' && colon > 0) {
        parts.scheme = std::string(url.substr(0, colon));
        url.remove_prefix(colon + 1);
    }
    if (url.substr(0, 2) == "//") {
        url.remove_prefix(2);
        auto end = std::min(url.find_first_of("/?"), url.size());
        parts.authority = std::string(url.substr(0, end));
        url.remove_prefix(end);
    }
    auto question = std::min(url.find('?'), url.size());
    parts.path = std::string(url.substr(0, question));
    if (question < url.size()) parts.query = std::string(url.substr(question + 1));
    return parts;
}

std::string removeDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.substr(0, 3) == "../") input.remove_prefix(3);
        else if (input.substr(0, 2) == "./") input.remove_prefix(2);
        else if (input.substr(0, 3) == "/./") input.remove_prefix(2);
        else if (input == "/.") input = "/";
        else if (input.substr(0, 4) == "/../" || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            auto last = output.rfind('/');
            output.resize(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            auto next = input.find('/', 1);
            if (next == std::string_view::npos) next = input.size();
            output.append(input.substr(0, next));
            input.remove_prefix(next);
        }
    }
    return output;
}

std::string joined(const Parts& parts) {
    std::string url;
    if (parts.scheme) url += *parts.scheme + ":";
    if (parts.authority) url += "//" + *parts.authority;
    url += parts.path;
    if (parts.query) url += "?" + *parts.query;
    return url;
}

// "host" or "host:port", for messages.
std::string hostOf(std::string_view url) {
    auto authority = split(url).authority.value_or(std::string());
    auto at = authority.rfind('@');
    return at == std::string::npos ? authority : authority.substr(at + 1);
}

std::string sizeText(std::size_t bytes) {
    constexpr std::size_t megabyte = 1024 * 1024;
    return bytes % megabyte == 0 ? std::to_string(bytes / megabyte) + " MB" : std::to_string(bytes) + " bytes";
}

std::string durationText(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0) {
        const auto seconds = time.count() / 1000;
        return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
    }
    return std::to_string(time.count()) + " ms";
}

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

Result<RuleFetch::Document, RuleFetch::Failure> failure(std::string code, std::string text, std::optional<int> status = std::nullopt) {
    return unexpected(RuleFetch::Failure{std::move(code), std::move(text), status});
}

} // namespace

bool RuleFetch::isHttps(std::string_view url) {
    if (!startsWithNoCase(url, "https://")) return false;
    // Nothing a transport would read differently from us: no white space, no control characters,
    // no backslash (some parsers take it for a slash).
    if (std::any_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f || c == '\\'; }))
        return false;
    std::string host = hostOf(url);
    if (auto colon = host.rfind(':'); colon != std::string::npos && host.find(']', colon) == std::string::npos)
        host.resize(colon);
    return !host.empty();
}

std::optional<std::string> RuleFetch::httpsAddress(std::string_view text) {
    text = trimmed(text);
    constexpr std::string_view importLink = "karabiner://karabiner/assets/complex_modifications/import?";
    if (startsWithNoCase(text, importLink)) {
        std::string_view query = withoutFragment(text.substr(importLink.size()));
        std::optional<std::string> address;
        while (!query.empty()) {
            auto end = std::min(query.find('&'), query.size());
            std::string_view item = query.substr(0, end);
            if (item.substr(0, 4) == "url=") address = percentDecoded(item.substr(4));
            query.remove_prefix(std::min(end + 1, query.size()));
        }
        if (!address) return std::nullopt;
        text = trimmed(*address);
        std::string url(withoutFragment(text));
        return isHttps(url) ? std::optional(url) : std::nullopt;
    }
    std::string url(withoutFragment(text));
    return isHttps(url) ? std::optional(url) : std::nullopt;
}

std::string RuleFetch::resolve(std::string_view base, std::string_view reference) {
    const Parts b = split(base);
    const Parts r = split(reference);
    Parts t;
    if (r.scheme) {
        t = r;
        t.path = removeDotSegments(r.path);
    } else {
        if (r.authority) {
            t.authority = r.authority;
            t.path = removeDotSegments(r.path);
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.query = r.query ? r.query : b.query;
            } else {
                if (r.path.front() == '/') {
                    t.path = removeDotSegments(r.path);
                } else {
                    std::string merged = b.authority && b.path.empty()
                                             ? "/" + r.path
                                             : b.path.substr(0, b.path.rfind('/') == std::string::npos ? 0 : b.path.rfind('/') + 1) + r.path;
                    t.path = removeDotSegments(merged);
                }
                t.query = r.query;
            }
            t.authority = b.authority;
        }
        t.scheme = b.scheme;
    }
    return joined(t);
}

std::optional<std::string> RuleFetch::ruleDocumentProblem(const Json& value) {
    if (!value.is_object()) return "it is not a JSON object";
    auto title = value.find("title");
    if (title == value.end() || !title->is_string()) return "it has no \"title\" text";
    auto rules = value.find("rules");
    if (rules == value.end() || !rules->is_array()) return "it has no \"rules\" list";
    for (std::size_t i = 0; i < rules->size(); ++i) {
        const Json& rule = (*rules)[i];
        if (!rule.is_object()) return "rule " + std::to_string(i + 1) + " is not an object";
        auto manipulators = rule.find("manipulators");
        if (manipulators == rule.end() || !manipulators->is_array())
            return "rule " + std::to_string(i + 1) + " has no \"manipulators\" list";
    }
    return std::nullopt;
}

std::optional<std::string> RuleFetch::galleryIndexProblem(const Json& value) {
    if (!value.is_object()) return "it is not a JSON object";
    for (const char* list : {"index", "example"}) {
        auto groups = value.find(list);
        if (groups == value.end()) {
            if (std::string_view(list) == "index") return "it has no \"index\" list";
            continue;
        }
        if (!groups->is_array()) return std::string("its \"") + list + "\" is not a list";
        for (std::size_t i = 0; i < groups->size(); ++i) {
            const Json& group = (*groups)[i];
            const std::string which = std::string(list) + " group " + std::to_string(i + 1);
            if (!group.is_object()) return which + " is not an object";
            for (const char* text : {"id", "name"}) {
                auto member = group.find(text);
                if (member == group.end() || !member->is_string()) return which + " has no \"" + text + "\" text";
            }
            auto files = group.find("files");
            if (files == group.end() || !files->is_array()) return which + " has no \"files\" list";
            for (std::size_t j = 0; j < files->size(); ++j) {
                const Json& file = (*files)[j];
                auto path = file.is_object() ? file.find("path") : file.end();
                if (!file.is_object() || path == file.end() || !path->is_string())
                    return which + ", file " + std::to_string(j + 1) + " has no \"path\" text";
            }
        }
    }
    return std::nullopt;
}

Result<RuleFetch::Document, RuleFetch::Failure> RuleFetch::fetch(std::string_view address, HttpTransport& transport,
                                                                 const Limits& limits, const std::atomic<bool>* stopRequested,
                                                                 Kind kind) {
    auto start = httpsAddress(address);
    if (!start)
        return failure("notHttps", "only https:// addresses and Karabiner-Elements import links can be fetched, not \"" +
                                       std::string(trimmed(address)) + "\"");
    const auto deadline = std::chrono::steady_clock::now() + limits.timeLimit;
    std::string url = *start;
    for (int redirects = 0;; ++redirects) {
        auto response = transport.get({url, limits.maxBytes, deadline, stopRequested});
        if (!response) {
            const auto& problem = response.error();
            switch (problem.kind) {
            case HttpFailure::Kind::timeout:
                return failure("timeout", *start + " did not answer within " + durationText(limits.timeLimit));
            case HttpFailure::Kind::tooLarge:
                return failure("tooLarge", "the answer from " + url + " is larger than " + sizeText(limits.maxBytes));
            case HttpFailure::Kind::untrusted:
                return failure("untrusted", "could not make a secure connection to " + hostOf(url) + ": " + problem.detail);
            case HttpFailure::Kind::offline:
            case HttpFailure::Kind::stopped:
                break;
            }
            return failure("offline", "could not reach " + hostOf(url) + ": " + problem.detail);
        }
        if (isRedirect(response->status) && !response->location.empty()) {
            if (redirects == limits.maxRedirects)
                return failure("tooManyRedirects", *start + " redirected more than " + std::to_string(limits.maxRedirects) + " times");
            std::string next = resolve(url, response->location);
            if (!isHttps(next))
                return failure("notHttps", url + " redirected to " + next + ", which is not an https:// address");
            url = std::move(next);
            continue;
        }
        if (response->status < 200 || response->status > 299)
            return failure("httpStatus", "the server answered " + std::to_string(response->status) + " for " + url, response->status);

        std::string& text = response->body;
        const bool index = kind == Kind::galleryIndex;
        const std::string notRules = url + (index ? " is not the gallery's index: " : " is not a Karabiner-Elements rule document: ");
        const char* const notCode = index ? "notGalleryIndex" : "notRuleDocument";
        if (jsonNestingDepth(text) > limits.maxDepth)
            return failure("tooDeep", "the answer from " + url + " is nested deeper than " + std::to_string(limits.maxDepth) + " levels");
        Json document;
        try {
            // Read as Karabiner-Elements reads its files: comments allowed.
            document = Json::parse(text, nullptr, true, true);
        } catch (const Json::parse_error& e) {
            std::string what = e.what();
            if (auto bracket = what.find("] "); what.rfind("[json.exception", 0) == 0 && bracket != std::string::npos)
                what.erase(0, bracket + 2);
            return failure(notCode, notRules + "it is not JSON (" + what + ")");
        }
        if (auto problem = index ? galleryIndexProblem(document) : ruleDocumentProblem(document))
            return failure(notCode, notRules + *problem);
        return Document{std::move(url), std::move(document), std::move(text)};
    }
}

} // namespace tarvel
