#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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
    // Called on the calling thread with each piece of standard output that is kept, as it is read.
    // What it throws leaves the run, after the child and its group have been killed and reaped.
    std::function<void(std::string_view piece)> outputObserver;
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
// own, inheriting environment and working folder. Its standard input is /dev/null, and it holds no
// descriptor of this process but its two output pipes. Both are drained while it runs, so that no
// amount of output can stall it. When the run ends (an exception included) whatever is left of the
// child's group is killed and the child reaped: nothing it started outlives the call. Fails only
// when the child cannot be started or its exit status is lost.
Result<ChildProcessOutcome, Error> runChildProcess(const ChildProcessRequest& request);

} // namespace tarvel
