#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace tarvel {

// Runs a closure once a delay has passed, on a thread that is not the main thread.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void runAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

// A Timer on one thread of its own; closures run one at a time, earliest first. Going away drops
// what has not run and waits for the closure that runs.
class TimerThread final : public Timer {
public:
    TimerThread();
    ~TimerThread() override;
    TimerThread(const TimerThread&) = delete;
    TimerThread& operator=(const TimerThread&) = delete;

    void runAfter(std::chrono::milliseconds delay, std::function<void()> work) override;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace tarvel
