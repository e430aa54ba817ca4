#include "FindTarget.h"

#include "Fakes.h"

#include <gtest/gtest.h>

namespace tarvel_focus {
namespace {

using testing::FakeApplications;
using testing::FakeNormalizer;
using Policy = ActivationPolicy;

std::string labelOf(const std::shared_ptr<RunningApplication>& application) {
    return application ? dynamic_cast<testing::FakeApplication&>(*application).label : "none";
}

class FindTargetTest : public ::testing::Test {
protected:
    std::string find(std::optional<std::string> name, std::optional<std::string> bundleId) {
        return labelOf(findTarget(apps, normalizer, name, bundleId));
    }
    FakeApplications apps;
    FakeNormalizer normalizer;
};

TEST_F(FindTargetTest, NothingToLookForAsksThePlatformForNothing) {
    apps.add("a", "X", "a.b").add("empty", "", "");
    EXPECT_EQ(find({}, {}), "none");
    EXPECT_EQ(find("", {}), "none");
    EXPECT_EQ(find("", ""), "none");
    EXPECT_EQ(find({}, ""), "none");
    EXPECT_EQ(find({}, kJavaRuntimeIdentifier), "none");
    EXPECT_EQ(apps.listings, 0);
}

TEST_F(FindTargetTest, NameMatchTakesTheFirstInPlatformOrder) {
    apps.add("other", "Y", "y").add("first", "X", "x1").add("second", "X", "x2");
    EXPECT_EQ(find("X", {}), "first");
    EXPECT_EQ(find("Y", {}), "other");
    EXPECT_EQ(find("Z", {}), "none");
}

TEST_F(FindTargetTest, NameMatchIsExactAndCaseSensitive) {
    apps.add("x", "Safari", "com.apple.Safari");
    for (const char* near : {"safari", "SAFARI", "Safari ", " Safari", "Safar", "Safari.app"})
        EXPECT_EQ(find(near, {}), "none") << near;
}

TEST_F(FindTargetTest, NameAndIdentifierTogetherPreferTheApplicationMatchingBoth) {
    apps.add("x-wrong-id", "X", "c.d").add("x-right-id", "X", "a.b");
    EXPECT_EQ(find("X", "a.b"), "x-right-id");
    // No application matches both: the name alone decides.
    EXPECT_EQ(find("X", "e.f"), "x-wrong-id");
}

TEST_F(FindTargetTest, NameWinsOverIdentifier) {
    apps.add("y", "Y", "a.b").add("x", "X", "c.d");
    EXPECT_EQ(find("X", "a.b"), "x");
    // The name matches nothing: the identifier does.
    EXPECT_EQ(find("Nope", "a.b"), "y");
}

TEST_F(FindTargetTest, EmptyIdentifierNarrowsOnlyTheFirstNamePass) {
    apps.add("with-id", "X", "a.b").add("empty-id", "X", "").add("no-id", "Y", std::nullopt);
    EXPECT_EQ(find("X", ""), "empty-id");
    EXPECT_EQ(find("Y", ""), "no-id"); // second pass
    apps.applications.erase(apps.applications.begin() + 1);
    EXPECT_EQ(find("X", ""), "with-id");
    // An empty identifier never matches on its own, not even an application with an empty identifier.
    apps.add("empty-again", "Z", "");
    EXPECT_EQ(find({}, ""), "none");
    EXPECT_EQ(find("", ""), "none");
}

TEST_F(FindTargetTest, EmptyNameCountsAsNoName) {
    apps.add("nameless", "", "a.b").add("named", "X", "a.b");
    EXPECT_EQ(find("", "a.b"), "nameless"); // bundle stage, first in order
    EXPECT_EQ(find("", "c.d"), "none");
}

TEST_F(FindTargetTest, OnlyRegularApplicationsAreCandidates) {
    apps.add("menu-bar", "X", "a.b", Policy::accessory)
        .add("hidden", "X", "a.b", Policy::prohibited)
        .add("regular", "Y", "c.d");
    EXPECT_EQ(find({}, "a.b"), "none");
    EXPECT_EQ(find("X", "a.b"), "none");
    EXPECT_EQ(find("X", "c.d"), "regular");
}

TEST_F(FindTargetTest, ApplicationsWithoutNameOrIdentifierNeverMatchOnThem) {
    apps.add("no-name", std::nullopt, "a.b").add("no-id", "X", std::nullopt);
    EXPECT_EQ(find("X", "a.b"), "no-id");
    EXPECT_EQ(find({}, "a.b"), "no-name");
    EXPECT_EQ(find("Y", "c.d"), "none");
}

TEST_F(FindTargetTest, JavaRuntimeIdentifierIsFoundOnlyByName) {
    apps.add("java", "Minecraft", kJavaRuntimeIdentifier);
    EXPECT_EQ(find({}, kJavaRuntimeIdentifier), "none");
    EXPECT_EQ(find("Other", kJavaRuntimeIdentifier), "none");
    EXPECT_EQ(find("Minecraft", kJavaRuntimeIdentifier), "java");
    EXPECT_EQ(find("Minecraft", {}), "java");
    // Only that exact identifier is exempt.
    apps.add("java-app", "Tool", "net.java.openjdk.java.tool");
    EXPECT_EQ(find({}, "net.java.openjdk.java.tool"), "java-app");
}

TEST_F(FindTargetTest, ComparesUnderCanonicalEquivalence) {
    const std::string precomposed = "Caf\u00e9", decomposed = "Cafe\u0301";
    apps.add("cafe", precomposed, "org.example.Caf\u00e9").add("angstrom", "A\u030angstr\u00f6m", "x.y");
    EXPECT_EQ(find(decomposed, {}), "cafe");
    EXPECT_EQ(find(precomposed, {}), "cafe");
    EXPECT_EQ(find({}, "org.example.Cafe\u0301"), "cafe");
    EXPECT_EQ(find(decomposed, "org.example.Cafe\u0301"), "cafe");
    EXPECT_EQ(find("\u00c5ngstr\u00f6m", {}), "angstrom");
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
