#pragma once
#include <chrono>
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
};

struct ChildProcessOutcome {
    int terminationStatus = 0;  // the exit status, or the signal number when a signal ended it
    bool exitedNormally = true;
    bool timedOut = false;
    std::string standardOutput;
    std::string standardError;
};

// Starts the executable from an argument vector (never through a shell), inheriting environment,
// working folder and standard input, and drains both output pipes while it runs so that no amount
// of output can stall it. Fails only when the child cannot be started.
Result<ChildProcessOutcome, Error> runChildProcess(const ChildProcessRequest& request);

} // namespace tarvel
