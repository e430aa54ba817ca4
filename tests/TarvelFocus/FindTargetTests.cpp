#include "FindTarget.h"

#include "Fakes.h"

#include <gtest/gtest.h>

namespace tarvel_focus {
namespace {

using testing::FakeApplications;
using testing::FakeNormalizer;
using Policy = ActivationPolicy;
using Text = std::optional<std::string>;

TEST(FindTarget, ChoosesAsTheRulesSay) {
    const std::string java = kJavaRuntimeIdentifier;
    struct App {
        const char* label;
        Text name, id;
        Policy policy = Policy::regular;
    };
    struct Query {
        Text name, id;
        const char* expected;  // the label found, or "none"
    };
    const struct {
        const char* rule;
        std::vector<App> apps;
        std::vector<Query> queries;
        bool listsNothing = false;
    } cases[] = {
        {"nothing to look for asks the platform for nothing",
         {{"a", "X", "a.b"}, {"empty", "", ""}},
         {{{}, {}, "none"}, {"", {}, "none"}, {"", "", "none"}, {{}, "", "none"}, {{}, java, "none"}},
         true},
        {"a name takes the first in platform order",
         {{"other", "Y", "y"}, {"first", "X", "x1"}, {"second", "X", "x2"}},
         {{"X", {}, "first"}, {"Y", {}, "other"}, {"Z", {}, "none"}}},
        {"names are exact and case-sensitive",
         {{"x", "Safari", "com.apple.Safari"}},
         {{"safari", {}, "none"}, {"SAFARI", {}, "none"}, {"Safari ", {}, "none"}, {" Safari", {}, "none"},
          {"Safar", {}, "none"}, {"Safari.app", {}, "none"}}},
        {"with both, the application matching both; else the name alone",
         {{"x-wrong-id", "X", "c.d"}, {"x-right-id", "X", "a.b"}},
         {{"X", "a.b", "x-right-id"}, {"X", "e.f", "x-wrong-id"}}},
        {"the name wins over the identifier, which decides when no name matches",
         {{"y", "Y", "a.b"}, {"x", "X", "c.d"}},
         {{"X", "a.b", "x"}, {"Nope", "a.b", "y"}}},
        {"an empty identifier narrows the first name pass",
         {{"with-id", "X", "a.b"}, {"empty-id", "X", ""}, {"no-id", "Y", std::nullopt}},
         {{"X", "", "empty-id"}, {"Y", "", "no-id"}}},
        {"an empty identifier never matches on its own",
         {{"with-id", "X", "a.b"}, {"no-id", "Y", std::nullopt}, {"empty-again", "Z", ""}},
         {{"X", "", "with-id"}, {{}, "", "none"}, {"", "", "none"}}},
        {"an empty name counts as no name",
         {{"nameless", "", "a.b"}, {"named", "X", "a.b"}},
         {{"", "a.b", "nameless"}, {"", "c.d", "none"}}},
        {"only regular applications are candidates",
         {{"menu-bar", "X", "a.b", Policy::accessory}, {"hidden", "X", "a.b", Policy::prohibited}, {"regular", "Y", "c.d"}},
         {{{}, "a.b", "none"}, {"X", "a.b", "none"}, {"X", "c.d", "regular"}}},
        {"a missing name or identifier never matches",
         {{"no-name", std::nullopt, "a.b"}, {"no-id", "X", std::nullopt}},
         {{"X", "a.b", "no-id"}, {{}, "a.b", "no-name"}, {"Y", "c.d", "none"}}},
        {"the Java runtime's identifier is found only by name, and only that exact one",
         {{"java", "Minecraft", java}, {"java-app", "Tool", "net.java.openjdk.java.tool"}},
         {{{}, java, "none"}, {"Other", java, "none"}, {"Minecraft", java, "java"}, {"Minecraft", {}, "java"},
          {{}, "net.java.openjdk.java.tool", "java-app"}}},
        {"names and identifiers compare under canonical equivalence",
         {{"cafe", "Caf\u00e9", "org.example.Caf\u00e9"}, {"angstrom", "A\u030angstr\u00f6m", "x.y"}},
         {{"Cafe\u0301", {}, "cafe"}, {"Caf\u00e9", {}, "cafe"}, {{}, "org.example.Cafe\u0301", "cafe"},
          {"Cafe\u0301", "org.example.Cafe\u0301", "cafe"}, {"\u00c5ngstr\u00f6m", {}, "angstrom"}}},
    };
    for (const auto& c : cases) {
        FakeApplications apps;
        for (const auto& app : c.apps) apps.add(app.label, app.name, app.id, app.policy);
        FakeNormalizer normalizer;
        for (const auto& q : c.queries) {
            auto found = findTarget(apps, normalizer, q.name, q.id);
            EXPECT_EQ(found ? dynamic_cast<testing::FakeApplication&>(*found).label : "none", q.expected)
                << c.rule << ": name " << q.name.value_or("(none)") << ", id " << q.id.value_or("(none)");
        }
        if (c.listsNothing) {
            EXPECT_EQ(apps.listings, 0) << c.rule;
        }
    }
}

TEST(CanonicallyEqual, AsksTheNormalizerOnlyWhenBytesCannotDecide) {
    FakeNormalizer normalizer;
    EXPECT_TRUE(canonicallyEqual(normalizer, "Caf\u00e9", "Caf\u00e9"));
    EXPECT_EQ(normalizer.calls, 0);
    EXPECT_FALSE(canonicallyEqual(normalizer, "Caf\u00e9", "Cafe"));
    // Invalid text equals only its own bytes.
    EXPECT_TRUE(canonicallyEqual(normalizer, "X\xFF", "X\xFF"));
    EXPECT_FALSE(canonicallyEqual(normalizer, "X\xFF", "X\xFE"));
}

} // namespace
} // namespace tarvel_focus
