#include "Platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

int remainingMilliseconds(std::optional<Clock::time_point> deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads what is available; returns false at end of file or on a hard error.
bool drain(int fd, std::string& into) {
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
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

    // The child starts with default signal handling and nothing blocked, whatever this process did.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (request.timeLimit) {
        // Its own process group, so that a time-out also ends what it started.
        flags |= POSIX_SPAWN_SETPGROUP;
        ::posix_spawnattr_setpgroup(&setup.attributes, 0);
    }
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    ::posix_spawnattr_setflags(&setup.attributes, flags);

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

    ChildProcessOutcome outcome;
    bool outOpen = true;
    bool errOpen = request.standardError == ChildProcessRequest::Stream::capture;
    if (!errOpen) err->read.reset();

    while ((outOpen || errOpen) && !outcome.timedOut) {
        pollfd fds[2];
        nfds_t count = 0;
        if (outOpen) fds[count++] = {out->read.get(), POLLIN, 0};
        if (errOpen) fds[count++] = {err->read.get(), POLLIN, 0};
        int ready = ::poll(fds, count, remainingMilliseconds(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) {
            outcome.timedOut = true;
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (fds[i].fd == out->read.get()) outOpen = drain(fds[i].fd, outcome.standardOutput);
            else errOpen = drain(fds[i].fd, outcome.standardError);
        }
    }

    int status = 0;
    if (deadline && !outcome.timedOut) {
        // The pipes are closed but the child may still run: wait for it within the limit.
        while (waitForChild(pid, WNOHANG, status) == 0) {
            if (Clock::now() >= *deadline) {
                outcome.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (!outcome.timedOut) {
            outcome.exitedNormally = WIFEXITED(status);
            outcome.terminationStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
            return outcome;
        }
    }
    if (outcome.timedOut) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    waitForChild(pid, 0, status);
    outcome.exitedNormally = WIFEXITED(status);
    outcome.terminationStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    return outcome;
}

} // namespace tarvel
