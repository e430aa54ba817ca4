#include <condition_variable>
#include <map>
#include <mutex>

#include "Platform/Timer.h"

namespace tarvel {

struct TimerThread::State {
    std::mutex mutex;
    std::condition_variable wake;
    // By deadline; closures with one deadline keep the order they came in.
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> pending;
    bool stopping = false;
};

TimerThread::TimerThread() : state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_] {
        std::unique_lock lock(state->mutex);
        while (!state->stopping) {
            if (state->pending.empty()) {
                state->wake.wait(lock);
                continue;
            }
            auto first = state->pending.begin();
            if (std::chrono::steady_clock::now() < first->first) {
                state->wake.wait_until(lock, first->first);
                continue;
            }
            auto work = std::move(first->second);
            state->pending.erase(first);
            lock.unlock();
            try {
                work();
            } catch (...) {
            }
            work = nullptr;
            lock.lock();
        }
    });
}

TimerThread::~TimerThread() {
    std::multimap<std::chrono::steady_clock::time_point, std::function<void()>> dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        dropped.swap(state_->pending);
    }
    state_->wake.notify_all();
    // A closure that held the last reference ends its own timer: the thread then ends on its own.
    if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
    else thread_.join();
}

void TimerThread::runAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        state_->pending.emplace(std::chrono::steady_clock::now() + delay, std::move(work));
    }
    state_->wake.notify_all();
}

} // namespace tarvel
