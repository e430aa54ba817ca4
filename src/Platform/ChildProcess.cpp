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
#include "Platform/ProcessSpawning.h"

extern char** environ;

namespace tarvel {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    FileDescriptor read, write;
};

// Close-on-exec from birth, and never one of the standard three: a process started with one of
// those closed would otherwise hand a pipe end over in a standard descriptor's place. Returns 0 or
// an errno value.
int makePipe(Pipe& pipe) {
    int ends[2];
    if (const int error = spawning::makeCloseOnExecPipe(ends); error != 0) return error;
    pipe.read = FileDescriptor(ends[0]);
    pipe.write = FileDescriptor(ends[1]);
    for (FileDescriptor* end : {&pipe.read, &pipe.write}) {
        if (end->get() > STDERR_FILENO) continue;
        const int moved = ::fcntl(end->get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) return errno;
        *end = FileDescriptor(moved);
    }
    const int flags = ::fcntl(pipe.read.get(), F_GETFL);
    if (flags < 0 || ::fcntl(pipe.read.get(), F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    return 0;
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

// A started child, owned until it is reaped. However the run ends, an exception included, what is
// left of the child's process group is killed and the child reaped before the owner goes.
class StartedChild {
public:
    explicit StartedChild(pid_t pid) : pid_(pid) {}
    ~StartedChild() {
        if (!reaped_) (void)finish();
    }
    StartedChild(const StartedChild&) = delete;
    StartedChild& operator=(const StartedChild&) = delete;

    // Whether the child has ended, without reaping it: while it waits to be reaped its number
    // still names its group and nothing else, so the group can be killed without hitting a
    // stranger that took the number over.
    bool hasExited() {
        while (!exited_) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
                exited_ = info.si_pid == pid_;
                break;
            }
            if (errno != EINTR) exited_ = true;  // gone unasked (SIGCHLD ignored): finish() says so
        }
        return exited_;
    }

    struct Ending {
        int status = 0;
        int waitError = 0;  // errno of a wait that found no child: the status is lost
    };

    // Kills the group (and the child, if it still runs) and reaps the child.
    Ending finish() {
        ::kill(-pid_, SIGKILL);
        if (!exited_) ::kill(pid_, SIGKILL);
        Ending ending;
        for (;;) {
            const pid_t r = ::waitpid(pid_, &ending.status, 0);
            if (r >= 0) break;
            if (errno != EINTR) {
                ending.waitError = errno;
                break;
            }
        }
        reaped_ = true;
        return ending;
    }

private:
    pid_t pid_;
    bool exited_ = false;
    bool reaped_ = false;
};

// How long one wait for output may last before the child's exit, the deadline and a stop request
// are looked at again.
constexpr Clock::duration checkInterval = std::chrono::milliseconds(50);

int millisecondsUntil(Clock::time_point moment) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Reads what is available, keeping at most `limit` bytes in `into` and showing each kept piece to
// `observer`; returns false at end of file or on a hard error. Returns after a bounded amount so
// that a child that writes without pause cannot keep the caller from its deadline.
bool drain(int fd, std::string& into, bool& cut, std::size_t limit, const std::function<void(std::string_view)>* observer) {
    char buffer[64 * 1024];
    for (std::size_t total = 0; total < 16 * sizeof buffer;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const auto count = static_cast<std::size_t>(n);
            const std::size_t kept = into.size() < limit ? std::min(count, limit - into.size()) : 0;
            if (observer && *observer && kept > 0) (*observer)(std::string_view(buffer, kept));
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

} // namespace

Result<ChildProcessOutcome, Error> runChildProcess(const ChildProcessRequest& request) {
    const std::string what = request.executable.string();
    Pipe out, err;
    if (const int error = makePipe(out); error != 0) return unexpected(Error::fromErrno(what, error));
    if (const int error = makePipe(err); error != 0) return unexpected(Error::fromErrno(what, error));

    // The child gets the pipes as standard output and error, nothing to read, and no other
    // descriptor of this process, whether marked close-on-exec or not.
    SpawnSetup setup;
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
    int setupError = ::posix_spawn_file_actions_adddup2(&setup.actions, out.write.get(), STDOUT_FILENO);
    if (setupError == 0)
        setupError = request.standardError == ChildProcessRequest::Stream::capture
                          ? ::posix_spawn_file_actions_adddup2(&setup.actions, err.write.get(), STDERR_FILENO)
                          : ::posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (setupError == 0)
        setupError = ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (setupError == 0) setupError = spawning::keepOnlyStandardDescriptors(setup.actions, flags);
    if (setupError != 0) return unexpected(Error::fromErrno(what, setupError));

    // The child starts with default signal handling and nothing blocked, whatever this process did,
    // in a process group of its own, so that what it started ends with it.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setpgroup(&setup.attributes, 0);
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
    out.write.reset();
    err.write.reset();
    if (spawnError != 0) return unexpected(Error::fromErrno(what, spawnError));
    StartedChild child(pid);

    std::optional<Clock::time_point> deadline;
    if (request.timeLimit) deadline = Clock::now() + *request.timeLimit;
    auto stopAsked = [&] { return request.stopRequested && request.stopRequested->load(); };

    ChildProcessOutcome outcome;
    bool outOpen = true;
    bool errOpen = request.standardError == ChildProcessRequest::Stream::capture;
    if (!errOpen) err.read.reset();
    std::optional<Clock::time_point> exitedAt;

    // Read until both pipes close. Once the child has exited, something it started may hold them
    // open for good: they are read for the grace period, no longer.
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
        if (exitedAt && now >= *exitedAt + request.exitGrace) break;
        Clock::time_point wakeUp = now + checkInterval;
        if (deadline) wakeUp = std::min(wakeUp, *deadline);
        if (exitedAt) wakeUp = std::min(wakeUp, *exitedAt + request.exitGrace);

        pollfd fds[2];
        nfds_t count = 0;
        if (outOpen) fds[count++] = {out.read.get(), POLLIN, 0};
        if (errOpen) fds[count++] = {err.read.get(), POLLIN, 0};
        int ready = ::poll(fds, count, millisecondsUntil(wakeUp));
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t i = 0; ready > 0 && i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (fds[i].fd == out.read.get())
                outOpen = drain(fds[i].fd, outcome.standardOutput, outcome.standardOutputCut, request.maxOutputBytes,
                                &request.outputObserver);
            else
                errOpen = drain(fds[i].fd, outcome.standardError, outcome.standardErrorCut, request.maxOutputBytes, nullptr);
        }
        if (!exitedAt && child.hasExited()) exitedAt = Clock::now();
    }

    // The pipes are closed but the child may still run: wait for it within the limit.
    for (auto pause = std::chrono::milliseconds(1); !child.hasExited() && !outcome.timedOut && !outcome.stopped;) {
        if (deadline && Clock::now() >= *deadline) {
            outcome.timedOut = true;
        } else if (stopAsked()) {
            outcome.stopped = true;
        } else {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }

    // Whatever the child left running in its group goes with it, after a clean exit too.
    const auto ending = child.finish();
    // With SIGCHLD ignored (a parent can hand that down) the kernel reaps the child itself and its
    // status is lost: never let that read as a clean exit.
    if (ending.waitError != 0 && !outcome.timedOut && !outcome.stopped)
        return unexpected(Error::fromErrno("the exit status of " + what + " could not be read", ending.waitError));
    outcome.exitedNormally = WIFEXITED(ending.status);
    outcome.terminationStatus = WIFEXITED(ending.status) ? WEXITSTATUS(ending.status) : WTERMSIG(ending.status);
    return outcome;
}

} // namespace tarvel
