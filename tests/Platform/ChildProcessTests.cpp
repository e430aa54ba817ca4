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

TEST(ChildProcess, KeepsTheStreamsApartAndReportsTheExitStatus) {
    TemporaryDirectory dir;
    auto tool = writeTool(dir / "both", "echo out; echo err >&2; exit 7");
    auto run = runChildProcess({.executable = tool});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->standardOutput, "out\n");
    EXPECT_EQ(run->standardError, "err\n");
    EXPECT_TRUE(run->exitedNormally);
    EXPECT_EQ(run->terminationStatus, 7);

    auto quiet = runChildProcess({.executable = tool, .standardError = ChildProcessRequest::Stream::discard});
    ASSERT_TRUE(quiet);
    EXPECT_EQ(quiet->standardOutput, "out\n");
    EXPECT_EQ(quiet->standardError, "");
}

TEST(ChildProcess, DrainsMegabytesOnBothStreamsWithoutStalling) {
    TemporaryDirectory dir;
    // Far more than a pipe holds, interleaved on both streams: a reader that takes one stream
    // after the other would deadlock here.
    auto tool = writeTool(dir / "flood", "head -c 10485760 /dev/zero | tr '\\0' o & head -c 10485760 /dev/zero | tr '\\0' e >&2; wait; exit 1");
    auto run = runChildProcess({.executable = tool});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->standardOutput.size(), 10485760u);
    EXPECT_EQ(run->standardError.size(), 10485760u);
    EXPECT_EQ(run->standardOutput.find_first_not_of('o'), std::string::npos);
    EXPECT_EQ(run->terminationStatus, 1);
}

TEST(ChildProcess, ReportsAToolThatCannotStart) {
    TemporaryDirectory dir;
    auto missing = runChildProcess({.executable = dir / "absent"});
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().description.find("No such file or directory"), std::string::npos);

    test::writeFile(dir / "plain", "#!/bin/sh\n");
    auto notExecutable = runChildProcess({.executable = dir / "plain"});
    ASSERT_FALSE(notExecutable);
    EXPECT_NE(notExecutable.error().description.find("Permission denied"), std::string::npos);
}

TEST(ChildProcess, TimeLimitEndsTheChildAndWhatItStarted) {
    TemporaryDirectory dir;
    // The grandchild keeps the output pipe open: the limit must not wait for it either.
    auto tool = writeTool(dir / "hang", "echo partial; sleep 30 & sleep 30");
    auto started = std::chrono::steady_clock::now();
    auto run = runChildProcess({.executable = tool, .timeLimit = 300ms});
    auto took = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(run);
    EXPECT_TRUE(run->timedOut);
    EXPECT_FALSE(run->exitedNormally);
    EXPECT_LT(took, 5s);

    auto closesEarly = writeTool(dir / "closes", "exec >/dev/null 2>&1; sleep 30");
    auto second = runChildProcess({.executable = closesEarly, .timeLimit = 300ms});
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->timedOut);
}

TEST(ChildProcess, AQuickToolFinishesWellInsideItsLimit) {
    TemporaryDirectory dir;
    auto tool = writeTool(dir / "quick", "echo done");
    auto run = runChildProcess({.executable = tool, .timeLimit = 10s});
    ASSERT_TRUE(run);
    EXPECT_FALSE(run->timedOut);
    EXPECT_EQ(run->standardOutput, "done\n");
    EXPECT_EQ(run->terminationStatus, 0);
}

} // namespace
} // namespace tarvel
