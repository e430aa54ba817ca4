#include <gtest/gtest.h>

#include <regex>

#include "Platform/Json.h"
#include "Platform/Text.h"
#include "Platform/Uuid.h"

namespace tarvel {
namespace {

TEST(JsonDocument, AcceptsOnlyAnObjectOrAnArrayAtTheTop) {
    EXPECT_TRUE(parseJSONDocument("{}"));
    EXPECT_TRUE(parseJSONDocument(" [1] "));
    for (const char* scalar : {"42", "\"x\"", "true", "null"}) {
        auto parsed = parseJSONDocument(scalar);
        ASSERT_FALSE(parsed) << scalar;
        EXPECT_EQ(parsed.error().description, "parse error at line 1, column 1: JSON text did not start with array or object");
    }
    auto indented = parseJSONDocument("\n\n   7");
    ASSERT_FALSE(indented);
    EXPECT_EQ(indented.error().description.substr(0, 28), "parse error at line 3, colum");
    EXPECT_NE(indented.error().description.find("column 4"), std::string::npos);
}

TEST(JsonDocument, MalformedTextReportsTheParsersPosition) {
    auto parsed = parseJSONDocument("{\n  \"profiles\": [\n}");
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().description.rfind("parse error at line 3, column 1:", 0), 0u) << parsed.error().description;
    EXPECT_EQ(parsed.error().description.find("[json.exception"), std::string::npos);
}

TEST(JsonDocument, PrettyFormIsSortedIndentedByFourUnescapedAndEndsInALineFeed) {
    auto value = parseJSONDocument(R"({"b": 1, "a": {"z": 1.0, "y": [true, null, "日本語 / \u00e9"]}, "c": 1e2, "d": 12345678901234})");
    ASSERT_TRUE(value);
    auto text = serializePretty(*value);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text,
              "{\n"
              "    \"a\": {\n"
              "        \"y\": [\n"
              "            true,\n"
              "            null,\n"
              "            \"日本語 / é\"\n"
              "        ],\n"
              "        \"z\": 1.0\n"
              "    },\n"
              "    \"b\": 1,\n"
              "    \"c\": 100.0,\n"
              "    \"d\": 12345678901234\n"
              "}\n");
}

TEST(JsonDocument, TextThatIsNotUTF8CannotBeSerialized) {
    Json value = {{"name", std::string("\xC3\x28")}};
    EXPECT_FALSE(serializePretty(value));
    EXPECT_FALSE(serializeCompact(value));
}

TEST(JsonDocument, LineTerminatorsInsideStringsAreEscapedForScripts) {
    auto text = serializeCompact(Json{{"t", "a\u2028b\u2029c"}});
    ASSERT_TRUE(text);
    EXPECT_EQ(escapeLineTerminatorsForScript(*text), R"({"t":"a\u2028b\u2029c"})");
}

TEST(Utf8, RejectsMalformedSequences) {
    EXPECT_TRUE(isValidUTF8("plain ASCII"));
    EXPECT_TRUE(isValidUTF8("かな é 😀"));
    EXPECT_FALSE(isValidUTF8("\xff"));
    EXPECT_FALSE(isValidUTF8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isValidUTF8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUTF8("\xE3\x81"));          // cut short
}

TEST(Uuid, IsUpperCaseCanonicalVersionFourAndFresh) {
    std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    auto a = randomUUIDString();
    EXPECT_TRUE(std::regex_match(a, form)) << a;
    EXPECT_NE(a, randomUUIDString());
}

} // namespace
} // namespace tarvel
