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
    if (!std::filesystem::exists(absolute, error) || error) return false;

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
