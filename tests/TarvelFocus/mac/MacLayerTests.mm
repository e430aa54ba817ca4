// tarvel-focus on macOS: its Cocoa layer, then the built command itself.
#include "FindTarget.h"
#include "FoundationNormalizer.h"
#include "WorkspaceOpener.h"
#include "WorkspaceRunningApplications.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace tarvel_focus::mac_platform {
namespace {

using namespace std::chrono_literals;

// A scratch folder, removed with everything in it.
struct TempFolder {
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarvel-focus-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

int exitStatusOf(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FoundationNormalizer, EqualsPrecomposedAndDecomposedFormsOnly) {
    const FoundationNormalizer normalizer;
    EXPECT_TRUE(canonicallyEqual(normalizer, "Caf\u00e9", "Cafe\u0301"));
    EXPECT_TRUE(canonicallyEqual(normalizer, "\u30ac", "\u30ab\u3099"));  // ガ, one and two code points
    EXPECT_FALSE(canonicallyEqual(normalizer, "cafe", "Cafe"));
    EXPECT_FALSE(canonicallyEqual(normalizer, "\ufb01", "fi"));  // compatibility forms stay apart
    EXPECT_EQ(normalizer.composed("\xff\xfe"), std::nullopt);
}

TEST(WorkspaceRunningApplications, ListsWithPolicies) {
    WorkspaceRunningApplications applications;
    // Whatever runs, every entry answers; the search never fails on a real list.
    for (const auto& application : applications.list()) {
        (void)application->activationPolicy();
        (void)application->localizedName();
    }
    const FoundationNormalizer normalizer;
    EXPECT_EQ(findTarget(applications, normalizer, std::string("no application is called this"), std::nullopt), nullptr);
}

TEST(WorkspaceOpener, AFileThatIsNoApplicationFailsWithinTheLimit) {
    TempFolder folder;
    const auto document = folder.path / "notes.txt";
    std::ofstream(document) << "not an application\n";
    std::atomic<int> outcome{-1};
    WorkspaceOpener().openApplication(document.string(), [&](bool opened) { outcome = opened ? 1 : 0; });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (outcome == -1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(outcome, 0);
}

TEST(TarvelFocusCommand, ExitsWithOneWhenThereIsNothingToFocusOrOpen) {
    const std::string command = "'" TARVEL_FOCUS_PATH "'";
    EXPECT_EQ(exitStatusOf(command), 1);
    EXPECT_EQ(exitStatusOf(command + " --bundle-id net.java.openjdk.java"), 1);
    EXPECT_EQ(exitStatusOf(command + " --name 'no application is called this' --fallback /nonexistent/App.app"), 1);
    EXPECT_EQ(exitStatusOf(command + " --fallback"), 1);
}

} // namespace
} // namespace tarvel_focus::mac_platform
