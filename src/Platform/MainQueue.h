#pragma once
#include <functional>

namespace tarvel {

// The application's main queue: a closure posted here runs later on the main thread, after the
// callback that posted it has returned (GLib idle source on Linux, dispatch_async on macOS).
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void async(std::function<void()> work) = 0;
    // For work done in slices: runs after what the main loop has pending, drawing included, so that
    // the window draws between slices. The same as async where the loop needs no such hint.
    virtual void asyncAfterPendingWork(std::function<void()> work) { async(std::move(work)); }
};

} // namespace tarvel
