// Stream separation, exit statuses, start failures and huge output are exercised through their
// users, the linter and the Shortcuts list; here what only the runner itself decides.
#include <gtest/gtest.h>

#include <chrono>

#include "Platform/ChildProcess.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using test::TemporaryDirectory;
using test::writeTool;

TEST(ChildProcess, PassesArgumentsVerbatimWithoutAShell) {
    TemporaryDirectory dir;
    auto tool = writeTool(dir / "args", R"(for a in "$@"; do printf '[%s]' "$a"; done)");
    auto run = runChildProcess({.executable = tool, .arguments = {"a b", "$(echo no)", "'q'", ""}});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->standardOutput, "[a b][$(echo no)]['q'][]");
    EXPECT_EQ(run->terminationStatus, 0);
}

TEST(ChildProcess, TimeLimitEndsTheChildAndWhatItStarted) {
    TemporaryDirectory dir;
    // A grandchild that keeps the output pipe open, and a child that closes its pipes before it
    // hangs: the limit waits for neither.
    const char* bodies[] = {"echo partial; sleep 30 & sleep 30", "exec >/dev/null 2>&1; sleep 30"};
    for (std::size_t i = 0; i < std::size(bodies); ++i) {
        const auto started = std::chrono::steady_clock::now();
        auto run = runChildProcess({.executable = writeTool(dir / std::to_string(i), bodies[i]), .timeLimit = 300ms});
        ASSERT_TRUE(run) << bodies[i];
        EXPECT_TRUE(run->timedOut) << bodies[i];
        EXPECT_FALSE(run->exitedNormally) << bodies[i];
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << bodies[i];
    }
}

} // namespace
} // namespace tarvel
