#include "Watchdog.h"

#include <cstdlib>

namespace tarvel_focus {

Watchdog::Watchdog(std::chrono::milliseconds limit, int status)
    : deadline_(std::chrono::steady_clock::now() + limit), status_(status) {
    thread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!stoodDown_) {
            if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && !stoodDown_ &&
                std::chrono::steady_clock::now() >= deadline_)
                std::_Exit(status_);  // nothing to clean up that the system does not
        }
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard lock(mutex_);
        stoodDown_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void Watchdog::extend(std::chrono::milliseconds limit) {
    std::lock_guard lock(mutex_);
    deadline_ = std::max(deadline_, std::chrono::steady_clock::now() + limit);
    changed_.notify_all();
}

} // namespace tarvel_focus
