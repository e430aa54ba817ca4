// tarvel-focus on macOS: its Cocoa layer, then the built command itself.
#include "FindTarget.h"
#include "FoundationNormalizer.h"
#include "WorkspaceOpener.h"
#include "WorkspaceRunningApplications.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#import <AppKit/AppKit.h>
#import <dispatch/dispatch.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
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
    // The completion may come after the test: it holds what it writes.
    auto outcome = std::make_shared<std::atomic<int>>(-1);
    WorkspaceOpener().openApplication(document.string(), [outcome](bool opened) { *outcome = opened ? 1 : 0; });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (*outcome == -1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(*outcome, 0);
}

// Runs the main run loop, which NSWorkspace and NSRunningApplication update their state on, until
// `condition` holds or `seconds` pass.
bool spinUntil(const std::function<bool()>& condition, double seconds = 15) {
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while (!condition()) {
        if (deadline.timeIntervalSinceNow <= 0) return false;
        [[NSRunLoop mainRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    }
    return true;
}

// A regular application that every Mac has, started by the test (a new instance, whatever else
// runs) and quit at its end.
struct StartedApplication {
    StartedApplication(NSString* bundleIdentifier, bool activates) {
        NSURL* bundle = [[NSWorkspace sharedWorkspace] URLForApplicationWithBundleIdentifier:bundleIdentifier];
        if (!bundle) return;
        NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
        configuration.activates = activates;
        configuration.createsNewApplicationInstance = YES;
        configuration.addsToRecentItems = NO;
        // The answer may come after the wait: the block holds what it writes.
        struct Answer {
            bool done = false;
            NSRunningApplication* application = nil;
        };
        auto answer = std::make_shared<Answer>();
        [[NSWorkspace sharedWorkspace] openApplicationAtURL:bundle
                                              configuration:configuration
                                          completionHandler:^(NSRunningApplication* app, NSError*) {
                                              dispatch_async(dispatch_get_main_queue(), ^{
                                                  answer->application = app;
                                                  answer->done = true;
                                              });
                                          }];
        spinUntil([&] { return answer->done; });
        application = answer->application;
    }
    ~StartedApplication() { quit(); }
    void quit() {
        if (!application || application.terminated) return;
        [application forceTerminate];
        spinUntil([&] { return bool(application.terminated); }, 5);
    }
    bool isFrontmost() const {
        return [NSWorkspace sharedWorkspace].frontmostApplication.processIdentifier == application.processIdentifier;
    }
    NSRunningApplication* application = nil;
};

TEST(WorkspaceRunningApplications, BringsARunningApplicationForwardWhileAnotherIsActive) {
    StartedApplication front(@"com.apple.Chess", true);
    StartedApplication behind(@"com.apple.calculator", false);
    ASSERT_NE(front.application, nil);
    ASSERT_NE(behind.application, nil);
    ASSERT_TRUE(spinUntil([&] { return front.isFrontmost(); })) << "Chess did not come to the front";

    WorkspaceRunningApplications applications;
    std::shared_ptr<RunningApplication> target;
    ASSERT_TRUE(spinUntil([&] {
        for (const auto& application : applications.list())
            if (static_cast<WorkspaceApplication&>(*application).application().processIdentifier ==
                behind.application.processIdentifier)
                target = application;
        return target != nullptr;
    }));
    EXPECT_TRUE(applications.activateAllWindows(*target));
    EXPECT_TRUE(spinUntil([&] { return behind.isFrontmost(); }))
        << "frontmost: " << [NSWorkspace sharedWorkspace].frontmostApplication.localizedName.UTF8String;

    // Gone: refused.
    behind.quit();
    ASSERT_TRUE(behind.application.terminated);
    EXPECT_FALSE(applications.activateAllWindows(*target));
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
