#include "Platform/SerialWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tarvel {

struct SerialWorker::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finishedCondition;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    bool finished = false;
    std::chrono::steady_clock::time_point waitUntil;  // set by the stop
};

SerialWorker::SerialWorker(std::chrono::milliseconds shutdownLimit)
    : state_(std::make_shared<State>()), shutdownLimit_(shutdownLimit) {
    thread_ = std::thread([state = state_] {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock lock(state->mutex);
                state->wake.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
                if (state->stopping) break;
                work = std::move(state->queue.front());
                state->queue.pop_front();
            }
            // A piece that throws must not take the queue down with it; pieces report their own
            // failures.
            try {
                work();
            } catch (...) {
            }
            work = nullptr;  // what it captured goes here, on this thread, before the next piece
        }
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->finishedCondition.notify_all();
    });
}

SerialWorker::~SerialWorker() {
    stop();
    bool finished = false;
    {
        std::unique_lock lock(state_->mutex);
        finished = state_->finishedCondition.wait_until(lock, state_->waitUntil, [&] { return state_->finished; });
    }
    if (finished) thread_.join();
    else thread_.detach();
}

void SerialWorker::stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        state_->stopping = true;
        state_->waitUntil = std::chrono::steady_clock::now() + shutdownLimit_;
        dropped.swap(state_->queue);
    }
    state_->wake.notify_all();
    dropped.clear();  // what the dropped work captured goes here, outside the lock
}

void SerialWorker::async(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        state_->queue.push_back(std::move(work));
    }
    state_->wake.notify_one();
}

} // namespace tarvel
