#include "Options.h"

#include <gtest/gtest.h>

namespace tarvel_focus {
namespace {

Options options(std::optional<std::string> name, std::optional<std::string> bundleId,
                std::optional<std::string> fallback) {
    return {std::move(name), std::move(bundleId), std::move(fallback)};
}

TEST(Parse, ReadsEachOptionInAnyOrder) {
    EXPECT_EQ(parse({}), options({}, {}, {}));
    EXPECT_EQ(parse({"--name", "Safari", "--bundle-id", "com.apple.Safari", "--fallback", "/Applications/Safari.app"}),
              options("Safari", "com.apple.Safari", "/Applications/Safari.app"));
    EXPECT_EQ(parse({"--fallback", "/a", "--name", "N"}), options("N", {}, "/a"));
    EXPECT_EQ(parse({"--name", "", "--bundle-id", ""}), options("", "", {}));
}

TEST(Parse, OptionWordsAreExact) {
    for (const char* word : {"--Name", "-name", "-n", "--name=X", "--bundleid", "--bundle_id", "name", "--fallback "})
        EXPECT_EQ(parse({word, "value"}), options({}, {}, {})) << word;
}

TEST(Parse, SkipsUnknownWordsOneAtATime) {
    EXPECT_EQ(parse({"stray", "--name", "X", "-v", "--help", "--bundle-id", "a.b"}), options("X", "a.b", {}));
    // A skipped word does not take the next one with it.
    EXPECT_EQ(parse({"--verbose", "--name", "X"}), options("X", {}, {}));
}

TEST(Parse, TakesTheNextWordAsValueWhateverItLooksLike) {
    EXPECT_EQ(parse({"--name", "--fallback"}), options("--fallback", {}, {}));
    EXPECT_EQ(parse({"--name", "--fallback", "/x"}), options("--fallback", {}, {}));
    EXPECT_EQ(parse({"--bundle-id", "--name", "X"}), options({}, "--name", {}));
    EXPECT_EQ(parse({"--fallback", "--fallback", "--fallback"}), options({}, {}, {}));
}

TEST(Parse, LastOccurrenceWins) {
    EXPECT_EQ(parse({"--name", "X", "--name", "Y"}), options("Y", {}, {}));
    EXPECT_EQ(parse({"--bundle-id", "a.b", "--name", "X", "--bundle-id", ""}), options("X", "", {}));
}

TEST(Parse, OptionWordInLastPositionClearsIt) {
    EXPECT_EQ(parse({"--fallback"}), options({}, {}, {}));
    EXPECT_EQ(parse({"--fallback", "/a", "--name", "X", "--fallback"}), options("X", {}, {}));
    EXPECT_EQ(parse({"--name", "X", "--name"}), options({}, {}, {}));
}

TEST(Parse, KeepsValuesUnchanged) {
    const std::string spaced = "  Visual Studio Code ";
    const std::string decomposed = "Cafe\u0301";
    EXPECT_EQ(parse({"--name", spaced, "--fallback", "~/Apps/x.desktop"}), options(spaced, {}, "~/Apps/x.desktop"));
    EXPECT_EQ(parse({"--name", decomposed}).name, decomposed);
}

} // namespace
} // namespace tarvel_focus
