#include "OpenFallback.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <semaphore>

namespace tarvel_focus {

namespace {

// Shared between the waiting thread and the completion, which may outlive the wait.
struct PendingOpen {
    std::atomic<bool> opened{false};
    std::binary_semaphore done{0};
};

} // namespace

bool openFallback(ApplicationOpener& opener, const std::optional<std::string>& path,
                  std::chrono::milliseconds timeout) {
    if (!path || path->empty()) return false;

    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(*path, error);
    if (error) return false;
    // An application is a file (an entry file, a program) or a folder (a bundle). Anything else (a
    // FIFO, a device, a socket) is refused before it is opened: opening it could wait for a writer
    // that never comes. stat never waits on what it looks at; a link is followed.
    const auto type = std::filesystem::status(absolute, error).type();
    if (error || (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::directory))
        return false;

    auto pending = std::make_shared<PendingOpen>();
    opener.openApplication(absolute.string(), [pending](bool opened) {
        pending->opened.store(opened);
        pending->done.release();
    });
    // Signal or time-out alike: the flag says what is known by now.
    (void)pending->done.try_acquire_for(timeout);
    return pending->opened.load();
}

} // namespace tarvel_focus
