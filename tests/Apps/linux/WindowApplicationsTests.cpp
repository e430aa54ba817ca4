#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Apps/linux/WindowApplications.h"

namespace tarvel {
namespace {

using ::testing::ElementsAre;

WindowFacts window(std::optional<std::uint32_t> pid, std::optional<std::string> className, bool normal = true,
                   bool skip = false) {
    return {.pid = pid, .classInstance = std::nullopt, .className = std::move(className), .normalType = normal, .skipsTaskbar = skip};
}

TEST(WindowApplications, WindowsGroupByProcessAndClassAndKeepTheFirstPlace) {
    std::vector<WindowFacts> windows{
        window(10, "Mail", false),          // 0: a dialog first
        window(20, "Term"),                 // 1
        window(10, "Mail"),                 // 2: makes Mail regular
        window(30, "Term"),                 // 3: another process of the same class
        window(std::nullopt, "Loose"),      // 4
        window(std::nullopt, "Loose", false), // 5: without pid, by class alone
        window(40, "Panel", true, true),    // 6: skips the task bar
        window(40, "Panel", false),         // 7
        window(10, std::nullopt),           // 8: no class
        window(10, "mail"),                 // 9: class compared exactly
    };
    auto apps = groupWindows(windows);
    ASSERT_EQ(apps.size(), 7u);
    EXPECT_THAT(apps[0].windows, ElementsAre(0, 2));
    EXPECT_TRUE(apps[0].regular);
    EXPECT_THAT(apps[1].windows, ElementsAre(1));
    EXPECT_THAT(apps[2].windows, ElementsAre(3));
    EXPECT_THAT(apps[3].windows, ElementsAre(4, 5));
    EXPECT_TRUE(apps[3].regular);
    EXPECT_THAT(apps[4].windows, ElementsAre(6, 7));
    EXPECT_FALSE(apps[4].regular);
    EXPECT_THAT(apps[5].windows, ElementsAre(8));
    EXPECT_THAT(apps[6].windows, ElementsAre(9));
}

TEST(WindowApplications, EntriesMatchInRuleOrder) {
    std::vector<EntryKeys> entries{
        {"org.example.Decoy", std::string("Editor")},  // 0
        {"org.example.Editor", std::nullopt},          // 1
        {"editor", std::nullopt},                      // 2
        {"Viewer", std::nullopt},                      // 3
        {"viewer-lower", std::string("")},             // 4: an empty StartupWMClass matches nothing
        {"Photos", std::string("photos-wm")},          // 5
    };
    WindowFacts w{.classInstance = "editor", .className = "Editor", .gtkApplicationId = "org.example.Editor"};
    EXPECT_EQ(matchEntry(w, entries), 1u);  // application id first
    w.gtkApplicationId = "org.example.Unknown";
    EXPECT_EQ(matchEntry(w, entries), 0u);  // then StartupWMClass (of instance or class)
    w.className = "Other";
    EXPECT_EQ(matchEntry(w, entries), 2u);  // then the id, exactly

    WindowFacts viewer{.classInstance = "VIEWER", .className = "Strange"};
    EXPECT_EQ(matchEntry(viewer, entries), 3u);  // last, ignoring case
    WindowFacts photos{.classInstance = "photos-wm", .className = "Photos"};
    EXPECT_EQ(matchEntry(photos, entries), 5u);  // StartupWMClass before the exact id of the same entry
    WindowFacts none{.classInstance = "", .className = std::nullopt};
    EXPECT_EQ(matchEntry(none, entries), std::nullopt);
    EXPECT_EQ(matchEntry(WindowFacts{.gtkApplicationId = ""}, entries), std::nullopt);
}

TEST(WindowApplications, OwnWindowsByProcessOnThisMachine) {
    EXPECT_TRUE(belongsToProcess(WindowFacts{.pid = 42}, 42, "here"));
    EXPECT_TRUE(belongsToProcess(WindowFacts{.pid = 42, .clientMachine = "here"}, 42, "here"));
    EXPECT_FALSE(belongsToProcess(WindowFacts{.pid = 42, .clientMachine = "there"}, 42, "here"));
    EXPECT_FALSE(belongsToProcess(WindowFacts{.pid = 43}, 42, "here"));
    EXPECT_FALSE(belongsToProcess(WindowFacts{}, 42, "here"));
}

} // namespace
} // namespace tarvel
