#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tarvel_focus {

// How long finding what to focus may take: an X server or window manager that does not answer, or
// application folders on a share that hangs, must not leave the command running. Opening the
// fallback has its own limit on top (kOpenTimeout).
inline constexpr std::chrono::milliseconds kSearchTimeout{5'000};

// Ends the process with `status` once its time is up, whatever the program is waiting for at that
// moment. Destroying it stands it down.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, int status);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // The time left becomes `limit` from now, if that is later.
    void extend(std::chrono::milliseconds limit);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::chrono::steady_clock::time_point deadline_;
    bool stoodDown_ = false;
    int status_;
    std::thread thread_;
};

} // namespace tarvel_focus
