#include <gtest/gtest.h>

#include "Karabiner/ConfigWatcher.h"
#include "TestSupport.h"
#include "WatchFakes.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::FakeFolderMonitor;
using test::FakeTimer;
using test::TemporaryDirectory;
using test::writeFile;

// Each case builds a tree in a fresh folder (names relative to it; "a -> b" makes a link), then
// says what is watched for "home/.config/karabiner/karabiner.json", as "folder entry".
TEST(ConfigWatcher, PlanWatchesTheFoldersOnTheWayToTheFileThroughLinks) {
    const struct {
        const char* name;
        std::vector<std::string> tree;
        std::vector<std::string> watched;
    } cases[] = {
        {"plain file", {"home/.config/karabiner/karabiner.json"}, {"home/.config/karabiner karabiner.json"}},
        {"no file yet", {"home/.config/karabiner/"}, {"home/.config/karabiner karabiner.json"}},
        {"no folder yet", {"home/"}, {"home .config"}},
        {"file linked into dotfiles",
         {"dot/ke/k.json", "home/.config/karabiner/karabiner.json -> ../../../dot/ke/k.json"},
         {"home/.config/karabiner karabiner.json", "dot/ke k.json"}},
        {"folder linked into dotfiles",
         {"dot/ke/karabiner.json", "home/.config/karabiner -> ../../dot/ke"},
         {"home/.config karabiner", "dot/ke karabiner.json"}},
        {"link into a folder not made yet",
         {"dot/", "home/.config/karabiner/karabiner.json -> ../../../dot/ke/k.json"},
         {"home/.config/karabiner karabiner.json", "dot ke"}},
        {"links in a loop",
         {"home/.config/karabiner/karabiner.json -> a.json", "home/.config/karabiner/a.json -> karabiner.json"},
         {"home/.config/karabiner karabiner.json", "home/.config/karabiner a.json"}},
    };
    for (const auto& c : cases) {
        TemporaryDirectory dir;
        const fs::path root = fs::canonical(dir.path());
        for (const std::string& item : c.tree) {
            if (auto arrow = item.find(" -> "); arrow != std::string::npos) {
                fs::create_directories((root / item.substr(0, arrow)).parent_path());
                fs::create_symlink(item.substr(arrow + 4), root / item.substr(0, arrow));
            } else if (item.back() == '/') {
                fs::create_directories(root / item);
            } else {
                writeFile(root / item, "{}");
            }
        }
        std::vector<std::string> watched;
        for (const auto& w : ConfigWatcher::plan(root / "home/.config/karabiner/karabiner.json"))
            watched.push_back(w.folder.lexically_relative(root).string() + " " + w.entry);
        EXPECT_EQ(watched, c.watched) << c.name;
    }
}

class ConfigWatcherTest : public ::testing::Test {
protected:
    TemporaryDirectory dir;
    fs::path home = fs::canonical(dir.path());
    fs::path config = home / ".config/karabiner/karabiner.json";
    std::shared_ptr<FakeFolderMonitor> monitor = std::make_shared<FakeFolderMonitor>();
    std::shared_ptr<FakeTimer> timer = std::make_shared<FakeTimer>();
    int told = 0;
    std::unique_ptr<ConfigWatcher> watcher;

    void start() {
        watcher = std::make_unique<ConfigWatcher>(config, monitor, timer, [this] { ++told; });
        EXPECT_TRUE(monitor->watches.empty()) << "not on the caller's thread";
        timer->runAll();
    }
};

TEST_F(ConfigWatcherTest, ABurstOfChangesIsToldOnceAfterItSettlesAndOtherEntriesAreIgnored) {
    writeFile(config, "{}");
    start();
    ASSERT_EQ(monitor->watched(), std::vector<std::string>{config.parent_path().string() + " karabiner.json"});
    // A save by rename, a backup beside it, Karabiner-Elements' own rewrite.
    for (const char* entry : {".karabiner.json.tarvel-Ab12Cd", "karabiner.json", "karabiner.backup-20250314-091502.json",
                              "karabiner.json", "karabiner.json.tmp", "karabiner.json"})
        monitor->change(config.parent_path(), entry);
    EXPECT_EQ(told, 0) << "nothing before the changes settle";
    ASSERT_EQ(timer->pending.size(), 3u);
    EXPECT_EQ(timer->pending.front().first, ConfigWatcher::settleDelay);
    timer->runAll();
    EXPECT_EQ(told, 1);

    // Only its own entries count; a platform that cannot tell which entry changed counts too.
    monitor->change(config.parent_path(), "automatic_backups");
    timer->runAll();
    EXPECT_EQ(told, 1);
    monitor->change(config.parent_path(), "");
    timer->runAll();
    EXPECT_EQ(told, 2);
}

TEST_F(ConfigWatcherTest, AFolderThatAppearsIsWatchedInTurnAndALinkPointedElsewhereIsFollowed) {
    start();
    EXPECT_EQ(monitor->watched(), std::vector<std::string>{home.string() + " .config"});
    writeFile(config, "{}");  // mkdir -p and a first save, in one go
    monitor->change(home, ".config");
    timer->runAll();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(monitor->watched(), std::vector<std::string>{config.parent_path().string() + " karabiner.json"});

    // karabiner.json becomes a link into dotfiles; changes there count from then on.
    writeFile(home / "dotfiles/karabiner.json", "{}");
    fs::remove(config);
    fs::create_symlink(home / "dotfiles/karabiner.json", config);
    monitor->change(config.parent_path(), "karabiner.json");
    timer->runAll();
    EXPECT_EQ(told, 2);
    monitor->change(home / "dotfiles", "karabiner.json");
    timer->runAll();
    EXPECT_EQ(told, 3);
}

TEST_F(ConfigWatcherTest, NothingIsToldOnceTheWatcherIsGone) {
    writeFile(config, "{}");
    start();
    monitor->change(config.parent_path(), "karabiner.json");
    watcher.reset();
    EXPECT_TRUE(monitor->watches.empty());
    timer->runAll();
    EXPECT_EQ(told, 0);
}

} // namespace
} // namespace tarvel
