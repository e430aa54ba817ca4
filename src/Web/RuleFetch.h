#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/HttpTransport.h"
#include "Platform/Json.h"
#include "Platform/Result.h"

namespace tarvel {

// A rule document fetched from the web for the page ("Import from a URL", the gallery's newer
// rules): https only, also after redirects, with bounds on redirects, size and time, and checked as
// a rule document before the page sees it. The gallery's index of its documents (its groups.json)
// comes the same way, checked as that index.
struct RuleFetch {
    // What the answer must be.
    enum class Kind { ruleDocument, galleryIndex };

    struct Limits {
        int maxRedirects = 5;
        std::size_t maxBytes = 5 * 1024 * 1024;
        std::chrono::milliseconds timeLimit{20000};  // for the whole fetch, redirects included
        std::size_t maxDepth = 64;                   // as for the page's own messages
    };

    struct Document {
        std::string url;   // where it came from in the end
        Json document;     // {"title", "rules": [...]} (the index: {"index": [...]}), as parsed
        std::string text;  // the bytes received
    };

    struct Failure {
        std::string code;  // "notHttps", "offline", "untrusted", "timeout", "tooLarge", "tooDeep",
                           // "tooManyRedirects", "httpStatus", "notRuleDocument", "notGalleryIndex"
        std::string text;  // English, for the user
        std::optional<int> status;  // with "httpStatus"
    };

    // The https address a pasted text stands for: the text itself (white space around it dropped,
    // the fragment too), or the percent-decoded `url` parameter of a Karabiner-Elements import link
    // (karabiner://karabiner/assets/complex_modifications/import?url=...). None for anything else.
    static std::optional<std::string> httpsAddress(std::string_view text);

    // True for an absolute https address with a host and nothing that cannot be in an address.
    static bool isHttps(std::string_view url);

    // A reference (a Location header) resolved against the address it came from (RFC 3986), without
    // a fragment.
    static std::string resolve(std::string_view base, std::string_view reference);

    // What keeps `value` from being a rule document as Karabiner-Elements imports one: an object with
    // a "title" string and a "rules" array of objects, each with a "manipulators" array. None when
    // it is one.
    static std::optional<std::string> ruleDocumentProblem(const Json& value);

    // What keeps `value` from being the gallery's index (public/groups.json of
    // pqrs-org/KE-complex_modifications): an object with an "index" array of groups (an "example"
    // array too, when present), each an object with "id" and "name" texts and a "files" array of
    // objects with a "path" text. None when it is one.
    static std::optional<std::string> galleryIndexProblem(const Json& value);

    // Fetches `address` (as the page sent it) through `transport`, following redirects itself.
    static Result<Document, Failure> fetch(std::string_view address, HttpTransport& transport, const Limits& limits,
                                           const std::atomic<bool>* stopRequested = nullptr, Kind kind = Kind::ruleDocument);
};

} // namespace tarvel
