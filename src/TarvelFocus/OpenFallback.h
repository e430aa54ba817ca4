#pragma once
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace tarvel_focus {

// How long the command waits for the platform to report that the application opened.
inline constexpr std::chrono::milliseconds kOpenTimeout{10'000};

// The platform's way of opening (and activating) the application at a path.
class ApplicationOpener {
public:
    virtual ~ApplicationOpener() = default;
    // Starts opening the application at `absolutePath` and returns at once. `completion` is called
    // exactly once, on any thread, possibly after the caller stopped waiting, with true when the platform
    // reported no error. It owns everything it touches.
    virtual void openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) = 0;
};

// Opens the application at `path` (relative to the working folder when relative, never tilde-expanded)
// and waits at most `timeout` for the outcome. True only when the platform reported success in time.
bool openFallback(ApplicationOpener& opener, const std::optional<std::string>& path,
                  std::chrono::milliseconds timeout = kOpenTimeout);

} // namespace tarvel_focus
