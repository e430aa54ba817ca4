#include "Platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "Platform/FileDescriptor.h"

extern char** environ;

namespace tarvel {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    FileDescriptor read, write;
};

std::optional<Pipe> makePipe() {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    Pipe p{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
    for (int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    return p;
}

class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// How long one wait for output may last before the child's exit, the deadline and a stop request
// are looked at again.
constexpr Clock::duration checkInterval = std::chrono::milliseconds(50);

int millisecondsUntil(Clock::time_point moment) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads what is available, keeping at most `limit` bytes in `into`; returns false at end of file or
// on a hard error. Returns after a bounded amount so that a child that writes without pause cannot
// keep the caller from its deadline.
bool drain(int fd, std::string& into, bool& cut, std::size_t limit) {
    char buffer[64 * 1024];
    for (std::size_t total = 0; total < 16 * sizeof buffer;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const auto count = static_cast<std::size_t>(n);
            const std::size_t kept = into.size() < limit ? std::min(count, limit - into.size()) : 0;
            into.append(buffer, kept);
            if (kept < count) cut = true;
            total += count;
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

int waitForChild(pid_t pid, int options, int& status) {
    for (;;) {
        pid_t r = ::waitpid(pid, &status, options);
        if (r >= 0 || errno != EINTR) return r;
    }
}

} // namespace

Result<ChildProcessOutcome, Error> runChildProcess(const ChildProcessRequest& request) {
    const std::string what = request.executable.string();
    auto out = makePipe();
    auto err = makePipe();
    if (!out || !err) return unexpected(Error::fromErrno(what, errno));

    SpawnSetup setup;
    ::posix_spawn_file_actions_adddup2(&setup.actions, out->write.get(), STDOUT_FILENO);
    if (request.standardError == ChildProcessRequest::Stream::capture)
        ::posix_spawn_file_actions_adddup2(&setup.actions, err->write.get(), STDERR_FILENO);
    else
        ::posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    // The child starts with default signal handling and nothing blocked, whatever this process did,
    // in a process group of its own, so that a time-out also ends what it started.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setpgroup(&setup.attributes, 0);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    ::posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> storage;
    storage.reserve(request.arguments.size() + 1);
    storage.push_back(request.executable.string());
    storage.insert(storage.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    int spawnError = ::posix_spawn(&pid, request.executable.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    out->write.reset();
    err->write.reset();
    if (spawnError != 0) return unexpected(Error::fromErrno(what, spawnError));

    std::optional<Clock::time_point> deadline;
    if (request.timeLimit) deadline = Clock::now() + *request.timeLimit;
    auto stopAsked = [&] { return request.stopRequested && request.stopRequested->load(); };

    ChildProcessOutcome outcome;
    bool outOpen = true;
    bool errOpen = request.standardError == ChildProcessRequest::Stream::capture;
    if (!errOpen) err->read.reset();
    int status = 0;
    bool reaped = false;
    int waitError = 0;  // errno of a wait that found no child
    std::optional<Clock::time_point> exitedAt;
    bool heldOpen = false;  // the child has exited but something it started still holds a pipe

    while (outOpen || errOpen) {
        const auto now = Clock::now();
        if (deadline && now >= *deadline) {
            outcome.timedOut = true;
            break;
        }
        if (stopAsked()) {
            outcome.stopped = true;
            break;
        }
        if (exitedAt && now >= *exitedAt + request.exitGrace) {
            heldOpen = true;
            break;
        }
        Clock::time_point wakeUp = now + checkInterval;
        if (deadline) wakeUp = std::min(wakeUp, *deadline);
        if (exitedAt) wakeUp = std::min(wakeUp, *exitedAt + request.exitGrace);

        pollfd fds[2];
        nfds_t count = 0;
        if (outOpen) fds[count++] = {out->read.get(), POLLIN, 0};
        if (errOpen) fds[count++] = {err->read.get(), POLLIN, 0};
        int ready = ::poll(fds, count, millisecondsUntil(wakeUp));
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t i = 0; ready > 0 && i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (fds[i].fd == out->read.get())
                outOpen = drain(fds[i].fd, outcome.standardOutput, outcome.standardOutputCut, request.maxOutputBytes);
            else
                errOpen = drain(fds[i].fd, outcome.standardError, outcome.standardErrorCut, request.maxOutputBytes);
        }
        if (!reaped) {
            const pid_t r = waitForChild(pid, WNOHANG, status);
            if (r == pid) {
                reaped = true;
                exitedAt = Clock::now();
            } else if (r < 0) {
                reaped = true;  // nothing left to wait for, and no status to read
                waitError = errno;
            }
        }
    }

    // The pipes are closed but the child may still run: wait for it within the limit.
    for (auto pause = std::chrono::milliseconds(1); !reaped && !outcome.timedOut && !outcome.stopped;) {
        if (const pid_t r = waitForChild(pid, WNOHANG, status); r != 0) {
            reaped = true;
            if (r < 0) waitError = errno;
        } else if (deadline && Clock::now() >= *deadline) {
            outcome.timedOut = true;
        } else if (stopAsked()) {
            outcome.stopped = true;
        } else {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }

    if (outcome.timedOut || outcome.stopped || heldOpen) {
        // Once the child is reaped its number stays taken while its group lives on, so the group
        // can still be named by it.
        ::kill(-pid, SIGKILL);
        if (!reaped) {
            ::kill(pid, SIGKILL);
            if (waitForChild(pid, 0, status) < 0) waitError = errno;
        }
    }
    // With SIGCHLD ignored (a parent can hand that down) the kernel reaps the child itself and its
    // status is lost: never let that read as a clean exit.
    if (waitError != 0 && !outcome.timedOut && !outcome.stopped)
        return unexpected(Error::fromErrno("the exit status of " + what + " could not be read", waitError));
    outcome.exitedNormally = WIFEXITED(status);
    outcome.terminationStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    return outcome;
}

} // namespace tarvel
