// Malformed text, unencodable text and the temporary file names are covered through the writer, the
// bridge and the linter.
#include <gtest/gtest.h>

#include "Platform/Json.h"
#include "Platform/Text.h"

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
    EXPECT_EQ(indented.error().description.rfind("parse error at line 3, column 4:", 0), 0u) << indented.error().description;
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

// A JavaScript engine takes raw U+2028/U+2029 in strings since ES2019, so running the answers in
// node cannot show this; older engines end the line there.
TEST(JsonDocument, LineTerminatorsInsideStringsAreEscapedForScripts) {
    auto text = serializeCompact(Json{{"t", "a\u2028b\u2029c"}});
    ASSERT_TRUE(text);
    EXPECT_EQ(escapeLineTerminatorsForScript(*text), R"({"t":"a\u2028b\u2029c"})");
}

TEST(Utf8, RejectsMalformedSequences) {
    EXPECT_TRUE(isValidUTF8("かな é 😀"));
    for (const char* bad : {"\xff", "\xC0\xAF" /* overlong "/" */, "\xED\xA0\x80" /* surrogate */,
                            "\xF4\x90\x80\x80" /* above U+10FFFF */, "\xE3\x81" /* cut short */})
        EXPECT_FALSE(isValidUTF8(bad)) << bad;
}

} // namespace
} // namespace tarvel
