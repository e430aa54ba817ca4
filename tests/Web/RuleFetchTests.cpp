#include <gtest/gtest.h>

#include <map>

#include "Web/BridgeFixture.h"
#include "Web/RuleFetch.h"

namespace tarvel {
namespace {

using test::CoordinatorTest;

// Answers from a table of addresses; anything else is a host that cannot be reached.
class TableTransport : public HttpTransport {
public:
    Result<HttpResponse, HttpFailure> get(const HttpRequest& request) override {
        requests.push_back(request);
        if (auto failure = failures.find(request.url); failure != failures.end()) return unexpected(failure->second);
        if (auto response = responses.find(request.url); response != responses.end()) return response->second;
        return unexpected(HttpFailure{HttpFailure::Kind::offline, "Name or service not known"});
    }
    void redirect(const std::string& from, const std::string& to, int status = 302) { responses[from] = {status, to, ""}; }
    void serve(const std::string& url, const std::string& body) { responses[url] = {200, "", body}; }

    std::map<std::string, HttpResponse> responses;
    std::map<std::string, HttpFailure> failures;
    std::vector<HttpRequest> requests;
};

const char* goodDocument = R"({"title": "Caps", "rules": [{"description": "x", "manipulators": []}]})";

TEST(RuleFetch, AddressesPastedOrInImportLinksAreHttpsOnly) {
    const struct {
        const char* pasted;
        std::optional<std::string> address;
    } cases[] = {
        {"https://example.org/a.json", "https://example.org/a.json"},
        {"  HTTPS://example.org/a.json#top\n", "HTTPS://example.org/a.json"},
        {"https://[::1]:8443/a.json", "https://[::1]:8443/a.json"},
        {"karabiner://karabiner/assets/complex_modifications/import?url=https%3A%2F%2Fke.example%2Fjson%2Fa%20b.json",
         std::nullopt},  // a space, once decoded, is no address
        {"karabiner://karabiner/assets/complex_modifications/import?url=https%3A%2F%2Fke.example%2Fa%2Bb.json",
         "https://ke.example/a+b.json"},
        {"karabiner://karabiner/assets/complex_modifications/import?x=1&url=https%3A%2F%2Fke.example%2Fa.json%3Fv%3D2",
         "https://ke.example/a.json?v=2"},
        {"karabiner://karabiner/assets/complex_modifications/import?url=http%3A%2F%2Fke.example%2Fa.json", std::nullopt},
        {"karabiner://karabiner/other?url=https%3A%2F%2Fke.example%2Fa.json", std::nullopt},
        {"http://example.org/a.json", std::nullopt},
        {"file:///etc/passwd", std::nullopt},
        {"https:///a.json", std::nullopt},
        {"https://:443/a.json", std::nullopt},
        {"https://example.org\\@evil.example/", std::nullopt},
        {"example.org/a.json", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RuleFetch::httpsAddress(c.pasted), c.address) << c.pasted;
    }
}

TEST(RuleFetch, LocationsResolveAsRfc3986Says) {
    const std::string base = "https://a.example/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g", "https://a.example/b/c/g"},          {"./g", "https://a.example/b/c/g"},
        {"g/", "https://a.example/b/c/g/"},        {"/g", "https://a.example/g"},
        {"//g", "https://g"},                      {"?y", "https://a.example/b/c/d;p?y"},
        {"g?y#s", "https://a.example/b/c/g?y"},    {"", "https://a.example/b/c/d;p?q"},
        {"../g", "https://a.example/b/g"},         {"../../../g", "https://a.example/g"},
        {"/./g/../h", "https://a.example/h"},      {"http://other.example/x", "http://other.example/x"},
    };
    for (const auto& [reference, expected] : cases) EXPECT_EQ(RuleFetch::resolve(base, reference), expected) << reference;
}

TEST(RuleFetch, EveryWayToFailHasItsCodeAndAClearText) {
    const std::string start = "https://ke.example/a.json";
    const struct {
        const char* name;
        std::function<void(TableTransport&)> setUp;
        std::string code;
        std::string text;
    } cases[] = {
        {"http", [](TableTransport&) {}, "notHttps", "only https:// addresses and Karabiner-Elements import links can be fetched"},
        {"redirect to http", [&](TableTransport& t) { t.redirect(start, "http://ke.example/a.json"); },
         "notHttps", start + " redirected to http://ke.example/a.json, which is not an https:// address"},
        {"redirect loop", [&](TableTransport& t) { t.redirect(start, "/a.json", 301); }, "tooManyRedirects",
         start + " redirected more than 5 times"},
        {"six redirects", [&](TableTransport& t) {
             for (int i = 0; i < 6; ++i) t.redirect(i ? "https://ke.example/" + std::to_string(i) : start, "/" + std::to_string(i + 1), 307);
             t.serve("https://ke.example/6", goodDocument);
         }, "tooManyRedirects", ""},
        {"status", [&](TableTransport& t) { t.responses[start] = {404, "", "<html>"}; }, "httpStatus",
         "the server answered 404 for " + start},
        {"redirect without a Location", [&](TableTransport& t) { t.responses[start] = {302, "", ""}; }, "httpStatus", ""},
        {"offline", [](TableTransport&) {}, "offline", "could not reach ke.example: Name or service not known"},
        {"timeout", [&](TableTransport& t) { t.failures[start] = {HttpFailure::Kind::timeout, ""}; }, "timeout",
         start + " did not answer within 20 seconds"},
        {"too large", [&](TableTransport& t) { t.failures[start] = {HttpFailure::Kind::tooLarge, ""}; }, "tooLarge",
         "the answer from " + start + " is larger than 5 MB"},
        {"certificate", [&](TableTransport& t) { t.failures[start] = {HttpFailure::Kind::untrusted, "Unacceptable TLS certificate"}; },
         "untrusted", "could not make a secure connection to ke.example: Unacceptable TLS certificate"},
        {"not JSON", [&](TableTransport& t) { t.serve(start, "<!doctype html>"); }, "notRuleDocument",
         start + " is not a Karabiner-Elements rule document: it is not JSON (parse error at line 1, column 1"},
        {"deep", [&](TableTransport& t) { t.serve(start, std::string(65, '[') + std::string(65, ']')); }, "tooDeep",
         "the answer from " + start + " is nested deeper than 64 levels"},
        {"array", [&](TableTransport& t) { t.serve(start, "[]"); }, "notRuleDocument", "it is not a JSON object"},
        {"no title", [&](TableTransport& t) { t.serve(start, R"({"rules": []})"); }, "notRuleDocument", "it has no \"title\" text"},
        {"rules not a list", [&](TableTransport& t) { t.serve(start, R"({"title": "", "rules": {}})"); }, "notRuleDocument",
         "it has no \"rules\" list"},
        {"rule not an object", [&](TableTransport& t) { t.serve(start, R"({"title": "", "rules": [{"manipulators": []}, 3]})"); },
         "notRuleDocument", "rule 2 is not an object"},
        {"no manipulators", [&](TableTransport& t) { t.serve(start, R"({"title": "", "rules": [{"description": "x"}]})"); },
         "notRuleDocument", "rule 1 has no \"manipulators\" list"},
    };
    for (const auto& c : cases) {
        TableTransport transport;
        c.setUp(transport);
        const std::string address = std::string(c.name) == "http" ? "http://ke.example/a.json"
                                    : std::string(c.name) == "offline" ? "https://ke.example/gone.json" : start;
        auto result = RuleFetch::fetch(address, transport, {});
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error().code, c.code) << c.name;
        EXPECT_NE(result.error().text.find(c.text), std::string::npos) << c.name << ": " << result.error().text;
        EXPECT_EQ(result.error().status.has_value(), c.code == "httpStatus") << c.name;
        if (std::string(c.name) == "http") {
            EXPECT_TRUE(transport.requests.empty()) << "refused before any request";
        }
    }
}

TEST(RuleFetch, AGoodDocumentComesWithItsFinalAddressAndExactBytesWithinOneDeadline) {
    TableTransport transport;
    const std::string text = "// from the gallery\n{\"title\": \"Caps\", \"rules\": [{\"manipulators\": [{\"type\": \"basic\"}]}]}\n";
    for (int i = 0; i < 5; ++i) transport.redirect("https://ke.example/" + std::to_string(i), std::to_string(i + 1), 308);
    transport.serve("https://ke.example/5", text);
    RuleFetch::Limits limits;
    limits.maxBytes = 1234;
    const auto before = std::chrono::steady_clock::now();
    auto result = RuleFetch::fetch("karabiner://karabiner/assets/complex_modifications/import?url=https%3A%2F%2Fke.example%2F0",
                                   transport, limits);
    ASSERT_TRUE(result) << result.error().text;
    EXPECT_EQ(result->url, "https://ke.example/5");
    EXPECT_EQ(result->text, text);
    EXPECT_EQ(result->document["rules"][0]["manipulators"][0]["type"], "basic");
    ASSERT_EQ(transport.requests.size(), 6u);
    for (const auto& request : transport.requests) {
        EXPECT_EQ(request.maxBodyBytes, 1234u);
        EXPECT_EQ(request.deadline, transport.requests[0].deadline) << "20 s in all, not per request";
    }
    EXPECT_GE(transport.requests[0].deadline - before, std::chrono::seconds(20));
}

TEST(RuleFetch, TheGallerysIndexIsCheckedAsThatIndex) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"index": [{"id": "a", "name": "A", "files": [{"path": "json/a.json", "extra_description_path": "x"}]}], "example": []})", ""},
        {R"({"index": []})", ""},
        {R"([])", "it is not a JSON object"},
        {R"({"title": "Caps", "rules": []})", "it has no \"index\" list"},
        {R"({"index": {}})", "its \"index\" is not a list"},
        {R"({"index": [], "example": 1})", "its \"example\" is not a list"},
        {R"({"index": [3]})", "index group 1 is not an object"},
        {R"({"index": [{"id": "a", "files": []}]})", "index group 1 has no \"name\" text"},
        {R"({"index": [{"id": "a", "name": "A"}]})", "index group 1 has no \"files\" list"},
        {R"({"index": [], "example": [{"id": "e", "name": "E", "files": [{"path": 2}]}]})", "example group 1, file 1 has no \"path\" text"},
    };
    for (const auto& [text, problem] : cases) {
        EXPECT_EQ(RuleFetch::galleryIndexProblem(Json::parse(text)).value_or(""), problem) << text;
    }
    // Each kind refuses the other, with its own code.
    TableTransport transport;
    const std::string index = R"({"index": [{"id": "a", "name": "A", "files": [{"path": "json/a.json"}]}]})";
    transport.serve("https://ke.example/groups.json", index);
    transport.serve("https://ke.example/a.json", goodDocument);
    auto asIndex = RuleFetch::fetch("https://ke.example/groups.json", transport, {}, nullptr, RuleFetch::Kind::galleryIndex);
    ASSERT_TRUE(asIndex) << asIndex.error().text;
    EXPECT_EQ(asIndex->document, Json::parse(index));
    auto documentAsIndex = RuleFetch::fetch("https://ke.example/a.json", transport, {}, nullptr, RuleFetch::Kind::galleryIndex);
    ASSERT_FALSE(documentAsIndex);
    EXPECT_EQ(documentAsIndex.error().code, "notGalleryIndex");
    EXPECT_EQ(documentAsIndex.error().text, "https://ke.example/a.json is not the gallery's index: it has no \"index\" list");
    auto indexAsDocument = RuleFetch::fetch("https://ke.example/groups.json", transport, {});
    ASSERT_FALSE(indexAsDocument);
    EXPECT_EQ(indexAsDocument.error().code, "notRuleDocument");
}

TEST_F(CoordinatorTest, FetchIsAnsweredThroughItsOwnResolveFunctionOnTheWorker) {
    auto transport = std::make_shared<TableTransport>();
    transport->serve("https://ke.example/a.json", goodDocument);
    transport->serve("https://ke.example/groups.json", R"({"index": []})");
    auto services = this->services();
    services.httpTransport = transport;
    KeymapWebView::Coordinator fetching(services);
    fetching.webView = page;
    for (const std::string& body : std::vector<std::string>{R"({"url": "https://ke.example/a.json"})", R"({"url": 3})", "[]",
                                   R"({"url": ")" + std::string(65, '[') + "\"}", std::string(70, '[') + std::string(70, ']'),
                                   R"({"url": "https://ke.example/groups.json", "kind": "galleryIndex"})",
                                   R"({"url": "https://ke.example/a.json", "kind": "ruleDocument"})",
                                   R"({"url": "https://ke.example/a.json", "kind": "page"})"})
        fetching.userContentControllerDidReceive("tarvelFetch", body, KeymapWebView::pageAddress);
    EXPECT_TRUE(transport->requests.empty()) << "nothing runs in the callback";
    auto values = answers(KeymapWebView::Coordinator::fetchAnswerStart);
    ASSERT_EQ(values.size(), 8u);
    EXPECT_EQ(values[0], Json({{"ok", true}, {"url", "https://ke.example/a.json"}, {"document", Json::parse(goodDocument)}, {"text", goodDocument}}));
    const Json malformed = {{"ok", false}, {"error", "malformed fetch message from the web view"}, {"code", "malformed"}};
    EXPECT_EQ(values[1], malformed);
    EXPECT_EQ(values[2], malformed);
    EXPECT_EQ(values[3]["code"], "notHttps");
    EXPECT_EQ(values[4]["code"], "tooDeep");
    EXPECT_EQ(values[5], Json({{"ok", true}, {"url", "https://ke.example/groups.json"}, {"index", {{"index", Json::array()}}}, {"text", R"({"index": []})"}}));
    EXPECT_EQ(values[6], values[0]);
    EXPECT_EQ(values[7], malformed);
}

} // namespace
} // namespace tarvel
