// Stream separation, exit statuses and start failures are exercised through their users, the linter
// and the Shortcuts list; here what only the runner itself decides.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <new>
#include <set>
#include <sstream>
#include <thread>

#include "Platform/ChildProcess.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

using namespace std::chrono_literals;
using test::TemporaryDirectory;
using test::writeTool;
namespace fs = std::filesystem;

TEST(ChildProcess, PassesArgumentsVerbatimWithoutAShell) {
    TemporaryDirectory dir;
    auto tool = writeTool(dir / "args", R"(for a in "$@"; do printf '[%s]' "$a"; done)");
    auto run = runChildProcess({.executable = tool, .arguments = {"a b", "$(echo no)", "'q'", ""}});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->standardOutput, "[a b][$(echo no)]['q'][]");
    EXPECT_EQ(run->terminationStatus, 0);
}

// A parent that ignores SIGCHLD hands that on, and the kernel then reaps children unasked: a
// failing tool must not read as one that exited 0.
TEST(ChildProcess, AStatusLostToAnIgnoredSigchldIsAnError) {
    TemporaryDirectory dir;
    const fs::path failing = writeTool(dir / "fails", "exit 1");  // macOS has no /bin/false
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &previous);
    auto run = runChildProcess({.executable = failing});
    ::sigaction(SIGCHLD, &previous, nullptr);
    ASSERT_FALSE(run);
    EXPECT_NE(run.error().localizedDescription().find("exit status of " + failing.string() + " could not be read"), std::string::npos)
        << run.error().localizedDescription();
}

// Running, not merely waiting to be reaped (where /proc tells).
bool running(pid_t pid) {
    if (::kill(pid, 0) != 0) return false;
    const fs::path stat = "/proc/" + std::to_string(pid) + "/stat";
    if (!fs::exists(stat)) return true;
    const std::string fields = test::readFile(stat);
    const auto state = fields.find(") ");
    return state == std::string::npos || fields[state + 2] != 'Z';
}

// Still running a second after the run (a killed process takes a moment to go).
bool processExists(const std::string& pidText) {
    return !pidText.empty() && !test::eventually([&] { return !running(std::stoi(pidText)); }, 1s);
}

// Children that would keep a reader waiting: whatever they do, the run ends within its limits, and
// nothing they started is left running.
TEST(ChildProcess, NoChildKeepsTheReaderPastItsLimits) {
    TemporaryDirectory dir;
    const std::string leftover = (dir / "leftover").string();
    const struct {
        const char* name;
        std::string body;
        bool timedOut;
        std::string output;
    } cases[] = {
        // Hangs, with a grandchild holding the output pipe open.
        {"hang", "echo partial; sleep 30 & echo $! > '" + leftover + "'; sleep 30", true, "partial\n"},
        // Closes its pipes, then hangs: no end of file tells that it is still running.
        {"close and linger", "echo $$ > '" + leftover + "'; exec >/dev/null 2>&1; sleep 30", true, ""},
        // Exits at once but leaves a child that holds the pipe: the output so far is the answer.
        {"lingering child", "echo done; sleep 30 & echo $! > '" + leftover + "'; exit 0", false, "done\n"},
        // Exits cleanly, its child holding nothing of the run's: that child goes too.
        {"clean exit", "sleep 30 </dev/null >/dev/null 2>&1 & echo $! > '" + leftover + "'; echo done", false, "done\n"},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        auto run = runChildProcess({.executable = writeTool(dir / c.name, c.body), .timeLimit = 1500ms});
        const auto took = std::chrono::steady_clock::now() - started;
        ASSERT_TRUE(run) << c.name;
        EXPECT_EQ(run->timedOut, c.timedOut) << c.name;
        EXPECT_EQ(run->exitedNormally, !c.timedOut) << c.name;
        EXPECT_EQ(run->standardOutput, c.output) << c.name;
        EXPECT_LT(took, c.timedOut ? 10s : 1s) << c.name;
        const std::string pid = test::readFile(leftover);
        EXPECT_FALSE(processExists(pid)) << c.name << ": process " << pid << " still runs";
    }
}

TEST(ChildProcess, EachStreamKeepsAtMostItsLimitAndSaysSo) {
    TemporaryDirectory dir;
    auto tool = writeTool(dir / "flood", "head -c 300000 /dev/zero | tr '\\0' o; head -c 10 /dev/zero | tr '\\0' e >&2; exit 3");
    auto run = runChildProcess({.executable = tool, .maxOutputBytes = 100000});
    ASSERT_TRUE(run);
    EXPECT_EQ(run->standardOutput, std::string(100000, 'o'));
    EXPECT_TRUE(run->standardOutputCut);
    EXPECT_EQ(run->standardError, std::string(10, 'e'));
    EXPECT_FALSE(run->standardErrorCut);
    EXPECT_EQ(run->terminationStatus, 3) << "the status survives the dropped output";
}

TEST(ChildProcess, AStopRequestEndsTheChildAndItsGroupAtOnce) {
    TemporaryDirectory dir;
    const auto leftover = dir / "leftover";
    auto tool = writeTool(dir / "slow", "sleep 30 & echo $! > '" + leftover.string() + "'; sleep 30");
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop = true;
    });
    const auto started = std::chrono::steady_clock::now();
    auto run = runChildProcess({.executable = tool, .timeLimit = 20s, .stopRequested = &stop});
    stopper.join();
    ASSERT_TRUE(run);
    EXPECT_TRUE(run->stopped);
    EXPECT_FALSE(run->timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(processExists(test::readFile(leftover)));
}

// Descriptors the child holds, as `ls` lists them: its own listing adds the lowest free one.
std::set<std::string> descriptorsSeenByAChild() {
    auto run = runChildProcess({.executable = "/bin/ls", .arguments = {"/dev/fd/"}});
    EXPECT_TRUE(run);
    std::set<std::string> names;
    std::istringstream lines(run ? run->standardOutput : "");
    for (std::string line; std::getline(lines, line);) names.insert(line);
    return names;
}

// Nothing of this process reaches the child but its output pipes: not a descriptor left open to
// every program it starts, not what the user types into its standard input.
TEST(ChildProcess, TheChildHoldsOnlyTheThreeStandardDescriptorsWithNothingToRead) {
    const int inheritable = ::open("/dev/null", O_RDONLY);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    EXPECT_EQ(descriptorsSeenByAChild(), (std::set<std::string>{"0", "1", "2", "3"}));
    ::close(inheritable);

    // Standard input is a pipe with text waiting in it; the child reads none of it.
    const int savedInput = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    ASSERT_EQ(::write(pipeEnds[1], "typed\n", 6), 6);
    ::close(pipeEnds[1]);
    ::dup2(pipeEnds[0], STDIN_FILENO);
    ::close(pipeEnds[0]);
    auto run = runChildProcess({.executable = "/bin/cat", .timeLimit = 5s});
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    ASSERT_TRUE(run);
    EXPECT_FALSE(run->timedOut);
    EXPECT_EQ(run->standardOutput, "");
}

// Whatever leaves the run between start and reap, an exception included, the child and its group
// are ended and the child reaped.
TEST(ChildProcess, AnExceptionWhileReadingLeavesNothingRunningOrUnreaped) {
    TemporaryDirectory dir;
    const auto leftover = dir / "leftover";
    auto tool = writeTool(dir / "talks", "sleep 30 & echo $! > '" + leftover.string() + "'; echo $$; sleep 30");
    pid_t child = 0;
    auto observer = [&](std::string_view piece) {
        child = std::stoi(std::string(piece));
        throw std::bad_alloc();
    };
    EXPECT_THROW((void)runChildProcess({.executable = tool, .timeLimit = 20s, .outputObserver = observer}), std::bad_alloc);
    ASSERT_GT(child, 0);
    int status = 0;
    const pid_t waited = ::waitpid(child, &status, WNOHANG);
    EXPECT_EQ(waited, -1) << "the child was left " << (waited == 0 ? "running" : "unreaped");
    if (waited == 0) {
        ::kill(-child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    EXPECT_FALSE(processExists(test::readFile(leftover)));
}

} // namespace
} // namespace tarvel
