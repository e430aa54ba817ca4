#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "Karabiner/ConfigWatcher.h"
#include "Platform/linux/GioFolderMonitor.h"
#include "TestFiles.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// karabiner.json under a temporary home, watched with GIO's monitors and a real timer.
class GioWatchTest : public ::testing::Test {
protected:
    test::TemporaryDirectory dir;
    fs::path home = fs::canonical(dir.path());
    fs::path config = home / ".config/karabiner/karabiner.json";

    std::mutex mutex;
    std::condition_variable toldCondition;
    std::vector<Clock::time_point> told;
    std::unique_ptr<ConfigWatcher> watcher;

    void start() {
        watcher = std::make_unique<ConfigWatcher>(config, std::make_shared<GioFolderMonitor>(), nullptr, [this] {
            std::lock_guard lock(mutex);
            told.push_back(Clock::now());
            toldCondition.notify_all();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the first watches are made
    }
    // How long after `since` the next news came; none within `seconds`.
    std::optional<Clock::duration> nextNews(Clock::time_point since, std::size_t count, double seconds = 3) {
        std::unique_lock lock(mutex);
        if (!toldCondition.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return told.size() >= count; }))
            return std::nullopt;
        return told[count - 1] - since;
    }
    // A save as Karabiner-Elements and editors make it: a new file renamed over the old one.
    static void saveByRename(const fs::path& file, const std::string& content) {
        test::writeFile(file.string() + ".tmp", content);
        fs::rename(file.string() + ".tmp", file);
    }
};

TEST_F(GioWatchTest, ASaveByRenameIsToldOnceWithinASecond) {
    test::writeFile(config, "{}");
    start();
    const auto saved = Clock::now();
    saveByRename(config, R"({"profiles": []})");
    auto after = nextNews(saved, 1);
    ASSERT_TRUE(after) << "never told";
    EXPECT_GE(*after, ConfigWatcher::settleDelay);
    EXPECT_LT(*after, std::chrono::seconds(1));
    // A backup written beside it is not news.
    test::writeFile(config.parent_path() / "karabiner.backup-20250314-091502.json", "{}");
    EXPECT_FALSE(nextNews(saved, 2, 0.6));
}

TEST_F(GioWatchTest, TheFolderMadeLaterAndALinkedFileWrittenInPlaceAreBothHeard) {
    start();
    auto made = Clock::now();
    test::writeFile(config, "{}");
    ASSERT_TRUE(nextNews(made, 1)) << "the folder made later was not heard";

    // Now a link into dotfiles, whose file is written in place.
    test::writeFile(home / "dotfiles/karabiner.json", "{}");
    fs::remove(config);
    fs::create_symlink("../../dotfiles/karabiner.json", config);
    ASSERT_TRUE(nextNews(made, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto written = Clock::now();
    test::writeFile(home / "dotfiles/karabiner.json", R"({"profiles": []})");
    auto after = nextNews(written, 3);
    ASSERT_TRUE(after) << "a write to the linked file was not heard";
    EXPECT_LT(*after, std::chrono::seconds(1));
}

} // namespace
} // namespace tarvel
