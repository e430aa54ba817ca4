#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Error.h"
#include "Platform/Result.h"

namespace tarvel {

struct ChildProcessRequest {
    enum class Stream { capture, discard };

    std::filesystem::path executable;
    std::vector<std::string> arguments;  // after the program name, which is the executable's path
    Stream standardError = Stream::capture;
    // None: wait as long as the child runs. Otherwise the child and everything it started are
    // killed when the limit passes.
    std::optional<std::chrono::milliseconds> timeLimit;
    // At most this much of each captured stream is kept; the rest is still read (so that the child
    // never blocks on a full pipe) and dropped.
    std::size_t maxOutputBytes = 64 * 1024;
    // Once the child itself has exited, its pipes are read for this much longer: something it
    // started may hold them open for good. What is still running in its group is then killed.
    std::chrono::milliseconds exitGrace{200};
    // Set from another thread when the caller no longer wants the result (the application is
    // closing): the child and its group are killed at once.
    const std::atomic<bool>* stopRequested = nullptr;
};

struct ChildProcessOutcome {
    int terminationStatus = 0;  // the exit status, or the signal number when a signal ended it
    bool exitedNormally = true;
    bool timedOut = false;
    bool stopped = false;  // ended because stopRequested was set
    std::string standardOutput;
    std::string standardError;
    bool standardOutputCut = false;  // more than maxOutputBytes came; the rest was dropped
    bool standardErrorCut = false;
};

// Starts the executable from an argument vector (never through a shell) in a process group of its
// own, inheriting environment, working folder and standard input, and drains both output pipes while
// it runs so that no amount of output can stall it. Fails only when the child cannot be started.
Result<ChildProcessOutcome, Error> runChildProcess(const ChildProcessRequest& request);

} // namespace tarvel
