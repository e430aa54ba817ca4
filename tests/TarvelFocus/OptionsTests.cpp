#include "Options.h"

#include <gtest/gtest.h>

namespace tarvel_focus {
namespace {

TEST(Parse, ReadsTheCommandLineAsTheRulesSay) {
    const std::string spaced = "  Visual Studio Code ", decomposed = "Cafe\u0301";
    const struct {
        std::vector<std::string> arguments;
        Options expected;
    } cases[] = {
        {{}, {}},
        // Any order; absent and empty stay apart.
        {{"--name", "Safari", "--bundle-id", "com.apple.Safari", "--fallback", "/Applications/Safari.app"},
         {"Safari", "com.apple.Safari", "/Applications/Safari.app"}},
        {{"--fallback", "/a", "--name", "N"}, {"N", {}, "/a"}},
        {{"--name", "", "--bundle-id", ""}, {"", "", {}}},
        // Option words are exact; unknown words are skipped one at a time.
        {{"--Name", "value"}, {}}, {{"-name", "value"}, {}}, {{"-n", "value"}, {}}, {{"--name=X", "value"}, {}},
        {{"--bundleid", "value"}, {}}, {{"--bundle_id", "value"}, {}}, {{"name", "value"}, {}}, {{"--fallback ", "value"}, {}},
        {{"stray", "--name", "X", "-v", "--help", "--bundle-id", "a.b"}, {"X", "a.b", {}}},
        {{"--verbose", "--name", "X"}, {"X", {}, {}}},
        // The next word is the value whatever it looks like.
        {{"--name", "--fallback"}, {"--fallback", {}, {}}},
        {{"--name", "--fallback", "/x"}, {"--fallback", {}, {}}},
        {{"--bundle-id", "--name", "X"}, {{}, "--name", {}}},
        {{"--fallback", "--fallback", "--fallback"}, {}},
        // The last occurrence wins; an option word in last position clears it.
        {{"--name", "X", "--name", "Y"}, {"Y", {}, {}}},
        {{"--bundle-id", "a.b", "--name", "X", "--bundle-id", ""}, {"X", "", {}}},
        {{"--fallback"}, {}},
        {{"--fallback", "/a", "--name", "X", "--fallback"}, {"X", {}, {}}},
        {{"--name", "X", "--name"}, {}},
        // Values are kept as given.
        {{"--name", spaced, "--fallback", "~/Apps/x.desktop"}, {spaced, {}, "~/Apps/x.desktop"}},
        {{"--name", decomposed}, {decomposed, {}, {}}},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& word : c.arguments) line += "[" + word + "]";
        EXPECT_EQ(parse(c.arguments), c.expected) << line;
    }
}

} // namespace
} // namespace tarvel_focus
