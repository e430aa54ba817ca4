#include "Web/BridgeMessages.h"
#include "Web/RuleFetch.h"

namespace tarvel::bridge {

namespace {

std::string failureText(const std::string& code, const std::string& text, std::optional<int> status = std::nullopt) {
    Json value = {{"ok", false}, {"error", text}, {"code", code}};
    if (status) value["status"] = *status;
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string fetch(const Json& body, const Services& services) {
    if (!body.is_object()) return fetchRefusal("malformed", KeymapWebView::Coordinator::malformedFetchMessage);
    auto url = body.find("url");
    if (url == body.end() || !url->is_string()) return fetchRefusal("malformed", KeymapWebView::Coordinator::malformedFetchMessage);
    // What is asked for: a rule document unless the body says the gallery's index.
    auto kind = RuleFetch::Kind::ruleDocument;
    if (auto asked = body.find("kind"); asked != body.end()) {
        if (*asked == "galleryIndex") kind = RuleFetch::Kind::galleryIndex;
        else if (*asked != "ruleDocument") return fetchRefusal("malformed", KeymapWebView::Coordinator::malformedFetchMessage);
    }
    if (!services.httpTransport) return failureText("offline", "this Tarvel cannot fetch from the network");
    auto result = RuleFetch::fetch(url->get_ref<const std::string&>(), *services.httpTransport, services.fetchLimits,
                                   services.stopRequested, kind);
    if (!result) return failureText(result.error().code, result.error().text, result.error().status);
    const char* member = kind == RuleFetch::Kind::galleryIndex ? "index" : "document";
    Json value = {{"ok", true}, {"url", result->url}, {member, std::move(result->document)}, {"text", std::move(result->text)}};
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string fetchRefusal(std::string_view code, std::string_view text) { return failureText(std::string(code), std::string(text)); }

std::string fetchAnswer(const Json& body, const Services& services) {
    try {
        return fetch(body, services);
    } catch (const std::exception& e) {
        return failureText("internalError", std::string("could not fetch: ") + e.what());
    }
}

} // namespace tarvel::bridge
