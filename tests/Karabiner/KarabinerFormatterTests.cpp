#include <gtest/gtest.h>

#include "Karabiner/KarabinerFormatter.h"

namespace tarvel {
namespace {

TEST(KarabinerFormatter, LineBreaksFollowStructureAsKarabinerElementsWritesThem) {
    const Json value = Json::parse(R"({
        "bool": true, "double": 123.456, "whole_double": 50.0, "exponent": 1e100, "int": -42, "null": null,
        "bundle_identifiers": ["^com\\.apple\\.Terminal$", "^org\\.vim\\."],
        "parent": {"description_notes": []},
        "arrays_of_arrays": [[1, 2], [3]],
        "objects": [{"key": 1}, {"key": 2}],
        "two_members": {"b": 1, "a": 2},
        "chain": {"k1": {"k2": {"k3": "v"}}},
        "chain_to_spread": {"k1": {"k2": {"a": 1, "b": 2}}},
        "empty_array": [], "empty_object": {},
        "scalars": [1, "two", null, false],
        "one_array": [[1, 2]], "one_object": [{"key": "value"}], "one_spread": [{"a": 1, "b": 2}],
        "texts": {"s": "line\nbreak \u0001 é / \"quoted\" \\", "key \"q\"": "v"}
    })");
    auto text = formatLikeKarabiner(value);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, R"({
    "arrays_of_arrays": [
        [1, 2],
        [3]
    ],
    "bool": true,
    "bundle_identifiers": [
        "^com\\.apple\\.Terminal$",
        "^org\\.vim\\."
    ],
    "chain": { "k1": { "k2": { "k3": "v" } } },
    "chain_to_spread": {
        "k1": {
            "k2": {
                "a": 1,
                "b": 2
            }
        }
    },
    "double": 123.456,
    "empty_array": [],
    "empty_object": {},
    "exponent": 1e+100,
    "int": -42,
    "null": null,
    "objects": [
        { "key": 1 },
        { "key": 2 }
    ],
    "one_array": [[1, 2]],
    "one_object": [{ "key": "value" }],
    "one_spread": [
        {
            "a": 1,
            "b": 2
        }
    ],
    "parent": {
        "description_notes": [

        ]
    },
    "scalars": [1, "two", null, false],
    "texts": {
        "key \"q\"": "v",
        "s": "line\nbreak \u0001 é / \"quoted\" \\"
    },
    "two_members": {
        "a": 2,
        "b": 1
    },
    "whole_double": 50.0
})");
}

TEST(KarabinerFormatter, IndentsFromTheLineItStartsOnWithTheFilesOwnUnitAndLineEnd) {
    const Json rule = {{"description", "d"}, {"manipulators", {{{"type", "basic"}}}}};
    auto text = formatLikeKarabiner(rule, "\t\t", KarabinerLayout{"\t", "\r\n"});
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "{\r\n\t\t\t\"description\": \"d\",\r\n\t\t\t\"manipulators\": [{ \"type\": \"basic\" }]\r\n\t\t}");
}

TEST(KarabinerFormatter, RefusesTextThatIsNotUTF8AndNestingBeyondTheLimit) {
    EXPECT_FALSE(formatLikeKarabiner(Json{{"s", std::string("\xff")}}));
    Json deep = 1;
    for (int i = 0; i < 300; ++i) deep = Json::array({deep, 2});
    EXPECT_FALSE(formatLikeKarabiner(deep));
}

} // namespace
} // namespace tarvel
