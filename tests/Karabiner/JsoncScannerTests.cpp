#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "Karabiner/JsoncDifferential.h"
#include "Karabiner/JsoncScanner.h"
#include "Platform/Json.h"

namespace tarvel {
namespace {

using jsonc::Problem;
using jsonc::differential::Verdict;

// Karabiner-Elements reads karabiner.json with nlohmann::json, comments allowed: what it accepts,
// the scanner accepts, and the other way round; where both accept, the scanner's navigation finds
// the reader's values.
TEST(JsoncScanner, AcceptsExactlyWhatKarabinerElementsReads) {
    const std::string texts[] = {
        R"({"a": [1, -0, 0.5e-3, 1E+2, true, false, null, "x"]})",
        "\xEF\xBB\xBF{}",
        "// first\n{ /* a */ \"a\" /* b */ : /* c */ 1 /* d */ } // last",
        "{\"a\": 1} /* unclosed",
        "{\"a\": 1} / not a comment",
        "{\"k\": \"\\u00e9 \\ud83d\\ude00 \\/ \\b\\f\\n\\r\\t\\\"\\\\\"}",
        "{\"k\": \"\\ud83d\"}",
        "{\"k\": \"\\ude00\"}",
        "{\"k\": \"\\ud83dx\"}",
        "{\"k\": \"\\x\"}",
        "{\"k\": \"\\u12\"}",
        "{\"k\": \"tab\there\"}",
        "{\"k\": \"かな 😀\"}",
        "{\"k\": \"\xC0\xAF\"}",        // overlong
        "{\"k\": \"\xED\xA0\x80\"}",    // a surrogate in UTF-8
        "{\"k\": \"\xF4\x90\x80\x80\"}",// above U+10FFFF
        "{\"k\": \"\xE3\x81\"}",        // cut short
        "{\"k\": \"\xFF\"}",
        "{\"k\": 01}", "{\"k\": -}", "{\"k\": 1.}", "{\"k\": .5}", "{\"k\": +1}", "{\"k\": 1e}", "{\"k\": NaN}",
        "{\"k\": tru}", "{\"k\": nulls}",
        "{\"k\" 1}", "{k: 1}", "{\"a\": 1 \"b\": 2}", "[1 2]", "{\"a\": 1,}", "[1,]", "[,]", "{,}",
        "{\"a\": 1}}", "{\"a\": [1}", "", "   ", "\xEF\xBB", "42", "\"top\"", "[]",
        "{\"big\": 18446744073709551616, \"small\": -9223372036854775809, \"tiny\": 1e-400}",
        "{\"max\": 1.7976931348623157e308}", "{\"over\": 1.7976931348623159e308}", "{\"over\": 1e309}",
        "{\"over\": -1e309}", "{\"over\": " + std::string(309, '9') + "}", "{\"fits\": " + std::string(308, '9') + "}",
        "{\"over\": 0.0000000000001e322}", "{\"fits\": 100000e303}", "{\"over\": 1000000e303}",
        std::string(256, '[') + std::string(256, ']'),
        std::string("{\"a\": 1}\n\0", 10), std::string("{\"a\": 1}\0 garbage", 17), std::string("{\"a\": \0}", 9),
        std::string(300, '[') + std::string(300, ']'),
    };
    for (const auto& text : texts) {
        auto judgement = jsonc::differential::judge(text);
        EXPECT_FALSE(isDisagreement(judgement.verdict)) << nameOf(judgement.verdict) << ": " << judgement.why << "\n" << text;
    }
}

// The reader ends a // comment at a NUL byte as at a line break and reads on after it; a /* comment
// must close before any NUL. What lies behind such a NUL is part of the document.
TEST(JsoncScanner, ReadsOnAfterANulThatEndsALineComment) {
    using namespace std::string_literals;
    const struct {
        std::string text;
        Verdict verdict;
    } cases[] = {
        {"{\"a\": 1} // c\0 garbage"s, Verdict::bothRefuse},
        {"{\"a\": 1 // c\0 }"s, Verdict::bothAccept},
        {"// c\0{\"a\": 1}"s, Verdict::bothAccept},
        {"{\"a\": [1, // c\0 2, 3]}"s, Verdict::bothAccept},
        {"{\"a\": 1} // c\0\0 garbage"s, Verdict::bothAccept},  // the second NUL ends the document
        {"{\"a\": 1} // c\0"s, Verdict::bothAccept},
        {"{\"a\": 1} \0 // c\n garbage"s, Verdict::bothAccept},
        {"{\"a\": 1, // c\0\n}"s, Verdict::bothRefuse},  // a trailing comma behind the NUL
        {"{\"a\": 1, \"b\": 2 // c\0, \"a\": 3\n}"s, Verdict::bothAccept},
        {"{\"a\": [1, /* c\0 */ 2]}"s, Verdict::bothRefuse},
        {"{\"a\": 1} /* c\0"s, Verdict::bothRefuse},
        {"{\"a\": 1} /\0"s, Verdict::bothRefuse},
        {"{\"a\": \"// \0\"}"s, Verdict::bothRefuse},
        {"{\r\"a\": 1, // c\r\"b\": 2 // d\0}"s, Verdict::bothAccept},
        // A complex_modifications the engine reads, behind a NUL: its rules are the ones in force.
        {"{\"profiles\": [{\"name\": \"A\", \"complex_modifications\": {\"rules\": []} // old\0,\n"
         "  \"complex_modifications\": {\"rules\": [{\"description\": \"hidden\"}]}}]}"s,
         Verdict::bothAccept},
        // A "selected": false behind a NUL: the engine uses the second profile.
        {"{\"profiles\": [{\"name\": \"A\", \"selected\": true // was\0, \"selected\": false\n},\n"
         "  {\"name\": \"B\", \"selected\": true}]}"s,
         Verdict::bothAccept},
        {"{\"profiles\": [{\"complex_modifications\": {\"rules\": [ // ::commands\0 {\"description\": \"x\"}\n]}}]}"s, Verdict::bothAccept},
        {"{\"x\": " + std::string(260, '[') + "// c\0"s + std::string(260, ']') + "}", Verdict::deeperThanLimit},
    };
    for (const auto& c : cases) {
        auto judgement = jsonc::differential::judge(c.text);
        EXPECT_EQ(judgement.verdict, c.verdict) << nameOf(judgement.verdict) << ": " << judgement.why << "\n"
                                                << jsonc::differential::printable(c.text);
    }
    // The navigation on its own: space and comments end where the reader's do.
    const std::string text = "{ // c\0\"a\" // d\0: // e\0 1 // f\0}"s;
    EXPECT_EQ(jsonc::skipSpace(text, 1), 7u);
    ASSERT_EQ(jsonc::members(text, 0).size(), 1u);
    EXPECT_EQ(jsonc::members(text, 0)[0].value.of(text), "1");
    EXPECT_EQ(jsonc::valueEnd(text, 0), text.size());
}

// Seeded karabiner.json-like documents and mutations of them, and mutations of the fixtures: the
// scanner and the reader agree on every one (bench/scanner-differential runs many more).
TEST(JsoncScanner, AgreesWithKarabinerElementsOnGeneratedDocuments) {
    namespace d = jsonc::differential;
    constexpr std::uint64_t seed = 18;
    std::map<Verdict, std::size_t> counts;
    std::string examples;
    auto check = [&](const std::string& text, const std::string& source) {
        auto judgement = d::judge(text);
        ++counts[judgement.verdict];
        if (isDisagreement(judgement.verdict) && counts[judgement.verdict] <= 3)
            examples += source + ": " + std::string(nameOf(judgement.verdict)) + ": " + judgement.why + "\n  " + d::printable(text) + "\n";
    };
    for (std::uint64_t i = 0; i < 1000; ++i) {
        auto random = d::randomFor(seed, i);
        auto document = d::DocumentWriter(random, random.below(200)).write();
        check(document.text, "document " + std::to_string(i));
        check(d::mutate(std::move(document), random), "mutation " + std::to_string(i));
    }
    std::vector<std::filesystem::path> fixtures;
    for (const auto& entry : std::filesystem::directory_iterator(TARVEL_FIXTURES_DIR "/karabiner"))
        if (entry.path().extension() != ".md") fixtures.push_back(entry.path());
    std::sort(fixtures.begin(), fixtures.end());
    std::uint64_t index = 0;
    for (const auto& path : fixtures) {
        std::ifstream in(path, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        check(text, path.filename().string());
        for (int n = 0; n < 2; ++n, ++index) {
            auto random = d::randomFor(seed + 1, index);
            check(d::mutate({text, {}}, random), path.filename().string() + " mutation " + std::to_string(index));
        }
    }
    EXPECT_EQ(counts[Verdict::readerOnly] + counts[Verdict::scannerOnly] + counts[Verdict::otherDocument], 0u) << examples;
    // The mix reaches every kind of outcome.
    EXPECT_GT(counts[Verdict::bothAccept], 1000u);
    EXPECT_GT(counts[Verdict::bothRefuse], 500u);
    EXPECT_GT(counts[Verdict::deeperThanLimit], 5u);
}

TEST(JsoncScanner, RefusalsSayWhatAndWhere) {
    const struct {
        std::string text;
        Problem::Kind kind;
        std::size_t line, column;
    } cases[] = {
        {"{\n  \"a\": [1, 2,\n  ]\n}", Problem::Kind::trailingComma, 2, 13},
        {"{\"a\": 1, // comment\n}", Problem::Kind::trailingComma, 1, 8},
        {"{\n  \"名前\": 1e400\n}", Problem::Kind::numberOutOfRange, 2, 9},  // columns count characters
        {"[" + std::string(310, '9') + "]", Problem::Kind::numberOutOfRange, 1, 2},
        {"{\"a\":\n\n  tru}", Problem::Kind::syntax, 3, 3},
        {"{\"a\": \"unterminated", Problem::Kind::syntax, 1, 7},
        {std::string(257, '[') + std::string(257, ']'), Problem::Kind::tooDeep, 1, 257},
        {"{\"a\": " + std::string(100000, '[') + "\"", Problem::Kind::tooDeep, 1, 262},
    };
    for (const auto& c : cases) {
        auto result = jsonc::scan(c.text);
        ASSERT_FALSE(result) << c.text;
        EXPECT_EQ(result.error().kind, c.kind) << c.text;
        EXPECT_EQ(std::pair(result.error().line, result.error().column), std::pair(c.line, c.column)) << c.text.substr(0, 80);
    }
    EXPECT_TRUE(jsonc::scan(std::string(256, '[') + std::string(256, ']')));
}

TEST(JsoncScanner, FactsAboutLayout) {
    const struct {
        std::string text;
        bool comments, karabinerLayout;
        std::string newline, unit;
    } cases[] = {
        {"{\n    \"a\": { \"b\": [1, 2] },\n    \"c\": [\n        { \"d\": 1 },\n        {}\n    ]\n}", false, true, "\n", "    "},
        {"{\n  \"a\": {\n    \"b\": 1\n  }\n}", false, false, "\n", "  "},      // one member spread over lines
        {"{ \"a\": 1, \"b\": 2 }", false, false, "\n", "    "},                   // two members on one line
        {"{\n\t\"a\": [\n\t\t1,\n\t\t2\n\t]\n}", false, false, "\n", "\t"},    // scalars spread
        {"{\r\n  // note\r\n  \"a\": 1,\r\n  \"b\": 2\r\n}", true, true, "\r\n", "  "},
        {"{\r\t\"a\": [\r\t\t{},\r\t\t{}\r\t]\r}", false, true, "\r", "\t"},  // CR alone ends lines too
        {"{\n    \"bundle_identifiers\": [\n        \"x\"\n    ],\n    \"k\": 1\n}", false, true, "\n", "    "},
        {"{\n    \"bundle_identifiers\": [\"x\"],\n    \"k\": 1\n}", false, false, "\n", "    "},
    };
    for (const auto& c : cases) {
        auto facts = jsonc::scan(c.text);
        ASSERT_TRUE(facts) << c.text;
        EXPECT_EQ(facts->hasComments, c.comments) << c.text;
        EXPECT_EQ(facts->laidOutLikeKarabiner, c.karabinerLayout) << c.text;
        EXPECT_EQ(facts->newline, c.newline) << c.text;
        EXPECT_EQ(facts->indentUnit, c.unit) << c.text;
    }
}

TEST(JsoncScanner, NavigationFindsTheMembersAReaderKeeps) {
    const std::string text =
        "{ \"a\": \"}]\\\"\", /* } */ \"b\" : [1, {\"x\": \"[\"}, // ]\n 3], \"a\": {\"c\": 2}, \"\\u0061\": 9 }";
    ASSERT_TRUE(jsonc::scan(text));
    auto members = jsonc::members(text, 0);
    ASSERT_EQ(members.size(), 4u);
    EXPECT_EQ(members[0].value.of(text), "\"}]\\\"\"");
    EXPECT_EQ(members[1].value.of(text), "[1, {\"x\": \"[\"}, // ]\n 3]");
    EXPECT_EQ(jsonc::elements(text, members[1].value.begin).size(), 3u);
    // A name written with an escape is the same name; the last one wins, as in the reader.
    EXPECT_EQ(jsonc::lastMember(text, 0, "a")->value.of(text), "9");
    EXPECT_EQ(jsonc::decodeString("\"caf\\u00e9 \\ud83d\\ude00 \\/\\n\""), "café 😀 /\n");
    EXPECT_FALSE(jsonc::lastMember(text, 0, "z"));

    // The scan's index of long containers near the top gives the same spans.
    const std::string big = "{\"a\": [" + std::string(300, ' ') + "{\"b\": \"" + std::string(300, 'x') + "\"}, [[[" +
                            std::string(300, ' ') + "]]]], \"c\": {}}";
    auto facts = jsonc::scan(big);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->shallowContainers.size(), 6u);
    auto plain = jsonc::members(big, 0), indexed = jsonc::members(big, 0, &*facts);
    ASSERT_EQ(plain.size(), indexed.size());
    for (std::size_t i = 0; i < plain.size(); ++i) EXPECT_EQ(plain[i].value.end, indexed[i].value.end);
    EXPECT_EQ(jsonc::elements(big, plain[0].value.begin, &*facts).size(), 2u);
}

} // namespace
} // namespace tarvel
