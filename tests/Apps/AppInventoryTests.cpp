#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "Apps/AppInventory.h"
#include "InventoryFakes.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::CaseInsensitiveCollation;
using testing::FakeCatalog;
using testing::FakeIcon;
using testing::FakeIdentity;
using testing::FakeRunning;
using testing::icon;
using testing::names;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> paths(const std::vector<AppRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.path.value_or("-"));
    return out;
}

using TemporaryFolder = test::TemporaryDirectory;
using test::writeTool;

struct InventoryTest : ::testing::Test {
    FakeCatalog catalog;
    FakeRunning runningApps;
    CaseInsensitiveCollation collation;
    FakeIdentity identity;

    InventoryTest() { identity.identifier = "app.tarvel.Tarvel"; }

    AppInventory::Services services() const { return {catalog, runningApps, collation, identity}; }
};

// ---- installed ----

TEST_F(InventoryTest, InstalledWalksTheRootsInOrderOneLevelAndDeduplicatesByExactPath) {
    catalog.roots = {"/Applications", "/Missing", "/Again", "/Home/Applications"};
    catalog.folders["/Applications"] = {"/Applications/Safari.app", "/Applications/Utilities", "/Applications/Notes.APP",
                                        "/Applications/readme.txt", "/Applications/app"};
    catalog.folders["/Again"] = {"/Applications/Safari.app"};  // the same path through another root
    catalog.folders["/Home/Applications"] = {"/Home/Applications/Safari.app"};
    catalog.bundles["/Applications/Safari.app"] = {"com.apple.Safari", "Safari.app", icon("safari")};
    catalog.bundles["/Applications/Notes.APP"] = {"com.apple.Notes", "Notes", icon("notes")};
    catalog.bundles["/Home/Applications/Safari.app"] = {"com.apple.Safari", "Safari", icon("safari2")};

    auto list = AppInventory::installed(services());

    // Same name twice: the copy of the earlier root first; the capitalised extension never listed.
    EXPECT_THAT(paths(list), ElementsAre("/Applications/Safari.app", "/Home/Applications/Safari.app"));
    EXPECT_EQ(list[0], (AppRecord{.name = "Safari",
                                  .bundleId = "com.apple.Safari",
                                  .path = "/Applications/Safari.app",
                                  .icon = "data:image/png;base64,safari@48",
                                  .running = false,
                                  .launchable = true}));
}

TEST_F(InventoryTest, InstalledKeepsUnreadableBundlesButSkipsWhatIsNoApplication) {
    catalog.roots = {"/A"};
    catalog.folders["/A"] = {"/A/Broken.app", "/A/Hidden.app", "/A/NoIcon.app", "/A/BadIcon.app"};
    catalog.bundles["/A/Broken.app"] = {std::nullopt, "Broken", icon("broken")};
    catalog.bundles["/A/NoIcon.app"] = {"x.noicon", "NoIcon", nullptr};
    catalog.bundles["/A/BadIcon.app"] = {"x.badicon", "BadIcon", std::make_shared<FakeIcon>("bad", true)};
    // "/A/Hidden.app" has no bundle: the platform does not count it as an application.

    auto list = AppInventory::installed(services());

    ASSERT_THAT(names(list), ElementsAre("BadIcon", "Broken", "NoIcon"));
    EXPECT_EQ(list[0].icon, std::nullopt);
    EXPECT_EQ(list[1].bundleId, std::nullopt);
    EXPECT_EQ(list[1].icon, "data:image/png;base64,broken@48");
    EXPECT_EQ(list[2].icon, std::nullopt);
    for (const auto& r : list) EXPECT_TRUE(r.launchable && !r.running);
}

TEST_F(InventoryTest, InstalledLeavesItselfOutAndAbsentIdentifiersCompareEqual) {
    catalog.roots = {"/A", "/B"};
    catalog.folders["/A"] = {"/A/Tarvel.app", "/A/Anon.app"};
    catalog.folders["/B"] = {"/B/Tarvel copy.app", "/B/Other.app"};
    auto own = std::make_shared<FakeIcon>("own");
    catalog.bundles["/A/Tarvel.app"] = {"app.tarvel.Tarvel", "Tarvel", own};
    catalog.bundles["/B/Tarvel copy.app"] = {"app.tarvel.Tarvel", "Tarvel copy", icon("t")};
    catalog.bundles["/A/Anon.app"] = {std::nullopt, "Anon", icon("a")};
    catalog.bundles["/B/Other.app"] = {"x.other", "Other", icon("o")};

    EXPECT_THAT(names(AppInventory::installed(services())), ElementsAre("Anon", "Other"));
    EXPECT_EQ(own->draws, 0) << "no icon is drawn for what is left out";

    identity.identifier = std::nullopt;  // a build without identifier leaves out the unidentified entries
    EXPECT_THAT(names(AppInventory::installed(services())), ElementsAre("Other", "Tarvel", "Tarvel copy"));
}

TEST_F(InventoryTest, InstalledNamesLoseEveryAppFragmentAndSortStablyByNameOnly) {
    catalog.roots = {"/A", "/B"};
    catalog.folders["/A"] = {"/A/1.app", "/A/2.app", "/A/3.app", "/A/4.app", "/A/5.app"};
    catalog.folders["/B"] = {"/B/6.app"};
    catalog.bundles["/A/1.app"] = {"z.1", "My.app Tools.app", icon("1")};
    catalog.bundles["/A/2.app"] = {"a.2", "banana", icon("2")};
    catalog.bundles["/A/3.app"] = {"y.3", "Apple.APP", icon("3")};
    catalog.bundles["/A/4.app"] = {"b.4", ".app.app", icon("4")};
    catalog.bundles["/A/5.app"] = {"c.5", "BANANA", icon("5")};
    catalog.bundles["/B/6.app"] = {"a.6", "Banana", icon("6")};

    auto list = AppInventory::installed(services());

    // The fragment goes wherever it stands, case-sensitively, with no trimming; an empty name stays.
    EXPECT_THAT(names(list), ElementsAre("", "Apple.APP", "banana", "BANANA", "Banana", "My Tools"));
    EXPECT_THAT(paths(list), ElementsAre("/A/4.app", "/A/3.app", "/A/2.app", "/A/5.app", "/B/6.app", "/A/1.app"));
}

// ---- running ----

TEST_F(InventoryTest, RunningKeepsRegularNamedApplicationsExceptItself) {
    using Policy = RunningApplication::ActivationPolicy;
    runningApps.apps = {
        {Policy::regular, "com.apple.finder", "Finder", "/System/Library/CoreServices/Finder.app", icon("finder")},
        {Policy::accessory, "x.menu", "Menu Extra", "/Applications/Menu.app", icon("m")},
        {Policy::prohibited, "x.daemon", "Daemon", "/usr/libexec/daemon", icon("d")},
        {Policy::regular, "app.tarvel.Tarvel", "Tarvel", "/Applications/Tarvel.app", icon("t")},
        {Policy::regular, "x.empty", "", "/Applications/Empty.app", icon("e")},
        {Policy::regular, "x.unnamed", std::nullopt, "/Applications/Unnamed.app", icon("u")},
        {Policy::regular, std::nullopt, "Bare Tool", "/usr/local/bin/tool", nullptr},
        {Policy::regular, "x.nopath", "Floating", std::nullopt, icon("f")},
        {Policy::regular, "x.slash", "Slashed", "/Applications/Slashed.app/", icon("s")},
        {Policy::regular, "x.ext", "Capital", "/Applications/Capital.APP", icon("c")},
    };

    auto list = AppInventory::running(services());

    ASSERT_THAT(names(list), ElementsAre("Bare Tool", "Capital", "Finder", "Floating", "Slashed"));
    EXPECT_EQ(list[0], (AppRecord{.name = "Bare Tool", .path = "/usr/local/bin/tool", .running = true, .launchable = false}));
    EXPECT_FALSE(list[1].launchable);
    EXPECT_EQ(list[2], (AppRecord{.name = "Finder",
                                  .bundleId = "com.apple.finder",
                                  .path = "/System/Library/CoreServices/Finder.app",
                                  .icon = "data:image/png;base64,finder@48",
                                  .running = true,
                                  .launchable = true}));
    EXPECT_EQ(list[3].path, std::nullopt);
    EXPECT_FALSE(list[3].launchable);
    EXPECT_TRUE(list[4].launchable);
}

TEST_F(InventoryTest, RunningWithoutOwnIdentifierDropsUnidentifiedAppsAndKeepsDuplicatesInPlatformOrder) {
    using Policy = RunningApplication::ActivationPolicy;
    runningApps.apps = {
        {Policy::regular, "x.term", "terminal", "/A/Terminal.app", icon("1")},
        {Policy::regular, std::nullopt, "Anon", std::nullopt, nullptr},
        {Policy::regular, "x.term", "Terminal", "/B/Terminal.app", icon("2")},
    };
    identity.identifier = std::nullopt;
    auto list = AppInventory::running(services());
    EXPECT_THAT(paths(list), ElementsAre("/A/Terminal.app", "/B/Terminal.app"));
}

// ---- shortcuts ----

struct ShortcutsTest : InventoryTest {
    TemporaryFolder folder;
    AppInventory::Services with(const fs::path& tool, std::chrono::milliseconds limit = AppInventory::shortcutsTimeLimit) const {
        AppInventory::Services s = services();
        s.shortcutsTool = tool;
        s.shortcutsWaitLimit = limit;
        return s;
    }
    fs::path tool(const std::string& body) const { return writeTool(folder / "shortcuts", body); }
};

TEST_F(ShortcutsTest, NamesAreTrimmedSplitAtLineFeedsSortedAndKeptTwice) {
    // Only "list" as argument; blank lines, tabs, no-break and ideographic spaces around names; a
    // carriage return and inner spaces stay.
    // Standard error never reaches the list.
    auto path = tool(R"([ "$#" = 1 ] && [ "$1" = list ] || exit 9
echo 'warning: noise' >&2
printf '\n\n  Zebra\t\n\t \n\302\240Make GIF\343\200\200\nbeta\nAlpha\nZebra\n \342\200\203\nCR\r\n  two  words \nlast')");
    EXPECT_THAT(AppInventory::shortcuts(with(path)), ElementsAre("Alpha", "beta", "CR\r", "last", "Make GIF", "two  words", "Zebra", "Zebra"));
}

TEST_F(ShortcutsTest, ALingeringChildOrAFloodStillGivesTheNamesThatCame) {
    // Exits 0 at once, but what it started holds the pipe for a minute.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(AppInventory::shortcuts(with(tool("echo Kept; sleep 60 & exit 0"))), ElementsAre("Kept"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // 100 MB of names: the complete lines of the first megabyte (9-byte lines; the cut one is dropped).
    const auto names = AppInventory::shortcuts(with(tool("yes Shortcut | head -c 104857600")));
    EXPECT_EQ(names.size(), AppInventory::shortcutsMaxOutputBytes / 9);
    EXPECT_EQ(names.back(), "Shortcut");
}

TEST_F(ShortcutsTest, EveryFailureGivesAnEmptyList) {
    const fs::path marker = folder.path() / "started";
    const std::string mark = "touch '" + marker.string() + "'; ";
    // Missing tool.
    EXPECT_THAT(AppInventory::shortcuts(with(folder.path() / "absent")), IsEmpty());
    // Not executable: nothing is started.
    fs::permissions(tool(mark + "echo Name"), fs::perms(0644));
    EXPECT_THAT(AppInventory::shortcuts(with(folder / "shortcuts")), IsEmpty());
    EXPECT_FALSE(fs::exists(marker));
    // A folder in its place.
    fs::create_directory(folder.path() / "dir");
    EXPECT_THAT(AppInventory::shortcuts(with(folder.path() / "dir")), IsEmpty());
    // Exists and is executable but cannot be started (no interpreter).
    test::writeFile(folder / "broken", "#!/nonexistent/interpreter\necho x\n");
    fs::permissions(folder / "broken", fs::perms(0755));
    EXPECT_THAT(AppInventory::shortcuts(with(folder / "broken")), IsEmpty());
    // Non-zero exit: what it printed is discarded.
    EXPECT_THAT(AppInventory::shortcuts(with(tool("echo Name; exit 1"))), IsEmpty());
    // Killed by a signal.
    EXPECT_THAT(AppInventory::shortcuts(with(tool("echo Name; kill -TERM $$"))), IsEmpty());
    // Not UTF-8.
    EXPECT_THAT(AppInventory::shortcuts(with(tool(R"(printf 'Good\nBad \377\376\n')"))), IsEmpty());
    // Nothing but blanks.
    EXPECT_THAT(AppInventory::shortcuts(with(tool(R"(printf '\n \n\t\n')"))), IsEmpty());
}

// That nothing it started outlives the limit is the child-process runner's own test.
TEST_F(ShortcutsTest, AHungToolIsStoppedAtTheLimitAndGivesNothing) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(AppInventory::shortcuts(with(tool("echo Early; sleep 60 & wait"), std::chrono::milliseconds(300))), IsEmpty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(AppInventoryShortcuts, TrimmingStopsAtLineBreaksAndLeavesInvalidTextAlone) {
    EXPECT_EQ(AppInventory::trimmingWhitespace("\t\u00a0\u2000a b\u200a\u202f\u205f\u3000\u1680"), "a b");
    EXPECT_EQ(AppInventory::trimmingWhitespace("\r x \u2028"), "\r x \u2028");  // CR and LINE SEPARATOR are no spaces
    EXPECT_EQ(AppInventory::trimmingWhitespace("\u200b zero width"), "\u200b zero width");  // U+200B is not Zs
    EXPECT_EQ(AppInventory::trimmingWhitespace(" \xff "), " \xff ");
    EXPECT_EQ(AppInventory::trimmingWhitespace(" \t "), "");
}

// ---- helper ----

TEST_F(InventoryTest, HelperPathIsTheExecutableBesideOurOwn) {
    TemporaryFolder folder;
    identity.executable = folder.path() / "tarvel";
    EXPECT_EQ(AppInventory::helperPath(services()), std::nullopt);  // missing

    fs::permissions(writeTool(folder / "tarvel-focus", ""), fs::perms(0644));
    EXPECT_EQ(AppInventory::helperPath(services()), std::nullopt);  // not executable

    fs::permissions(folder.path() / "tarvel-focus", fs::perms(0755));
    EXPECT_EQ(AppInventory::helperPath(services()), (folder.path() / "tarvel-focus").string());

    identity.executable = std::nullopt;
    EXPECT_EQ(AppInventory::helperPath(services()), std::nullopt);

    fs::create_directory(folder.path() / "sub");
    fs::create_directory(folder.path() / "sub" / "tarvel-focus");
    identity.executable = folder.path() / "sub" / "tarvel";
    EXPECT_EQ(AppInventory::helperPath(services()), std::nullopt);  // a folder of that name
}

// ---- the whole inventory ----

TEST_F(InventoryTest, CollectAsksRunningBeforeInstalledAndEncodesEveryMemberInOrder) {
    std::vector<std::string> log;
    catalog.log = &log;
    runningApps.log = &log;
    catalog.roots = {"/A"};
    catalog.folders["/A"] = {"/A/Notes.app"};
    catalog.bundles["/A/Notes.app"] = {"x.notes", "Notes", icon("notes")};
    // Without identifier, path or icon: three members.
    runningApps.apps = {{RunningApplication::ActivationPolicy::regular, std::nullopt, "Notes", std::nullopt, nullptr}};

    TemporaryFolder folder;
    writeTool(folder / "tarvel-focus", "");
    identity.executable = folder.path() / "tarvel";
    AppInventory::Services s = services();
    s.shortcutsTool = writeTool(folder / "shortcuts", "echo 'My Shortcut'");

    AppInventoryPayload payload = AppInventory::collect(s);

    EXPECT_THAT(log, ElementsAre("runningApplications", "searchRoots"));
    EXPECT_EQ(encodeJSON(payload),
              R"({"running":[{"name":"Notes","running":true,"launchable":false}],)"
              R"("installed":[{"name":"Notes","bundleId":"x.notes","path":"/A/Notes.app","icon":"data:image/png;base64,notes@48",)"
              R"("running":false,"launchable":true}],)"
              R"("shortcuts":["My Shortcut"],"helperPath":")" +
                  (folder.path() / "tarvel-focus").string() + "\"}");
}

TEST_F(InventoryTest, AMachineFullOfApplicationsGivesALimitedListACountAndIconsForTheTimeThereIs) {
    // Draws take 30 ms each: the budget of 100 ms runs out after a few.
    struct SlowIcon : FakeIcon {
        using FakeIcon::FakeIcon;
        std::optional<std::string> pngBase64(double side) const override {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            return FakeIcon::pngBase64(side);
        }
    };
    auto slow = std::make_shared<SlowIcon>("slow");
    catalog.roots = {"/A", "/B"};
    for (const char* root : {"/A", "/B"}) {
        for (int i = 0; i < 4; ++i) {
            const fs::path app = fs::path(root) / ("App" + std::to_string(i) + ".app");
            catalog.folders[root].push_back(app);
            catalog.bundles[app] = {"id" + app.string(), app.stem().string(), slow};
        }
    }
    catalog.folders["/B"].push_back("/A/App0.app");  // seen already: neither listed nor counted
    AppInventory::Services s = services();
    s.installedLimit = 6;
    s.iconTimeBudget = std::chrono::milliseconds(100);
    s.shortcutsTool = "/nonexistent/shortcuts";

    const AppInventoryPayload payload = AppInventory::collect(s);
    EXPECT_THAT(paths(payload.installed), ElementsAre("/A/App0.app", "/B/App0.app", "/A/App1.app", "/B/App1.app",
                                                      "/A/App2.app", "/A/App3.app"));
    EXPECT_EQ(payload.installedOmitted, 2u);
    EXPECT_EQ(toJSON(payload)["installedOmitted"], 2);
    const auto drawn = std::count_if(payload.installed.begin(), payload.installed.end(), [](const AppRecord& r) { return r.icon; });
    EXPECT_GE(drawn, 1);
    EXPECT_LE(drawn, 4);
    EXPECT_EQ(slow->draws, drawn) << "no icon is drawn once the time is spent";
}

} // namespace
} // namespace tarvel
