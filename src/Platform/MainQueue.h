#pragma once
#include <functional>

namespace tarvel {

// The application's main queue: a closure posted here runs later on the main thread, after the
// callback that posted it has returned (GLib idle source on Linux, dispatch_async on macOS).
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void async(std::function<void()> work) = 0;
};

} // namespace tarvel
