#pragma once
#include <chrono>
#include <memory>
#include <thread>

#include "Platform/WorkQueue.h"

namespace tarvel {

// A WorkQueue on one thread of its own.
//
// Going away must not hang the window that owns it: work that has not started is dropped, the piece
// that runs is waited for at most `shutdownLimit` from the stop, and past that left to finish on its
// own (it owns what it touches, so it may outlive its queue).
class SerialWorker final : public WorkQueue {
public:
    static constexpr std::chrono::milliseconds defaultShutdownLimit{2000};

    explicit SerialWorker(std::chrono::milliseconds shutdownLimit = defaultShutdownLimit);
    // Stops (unless stop() did already) and waits for the running piece until the limit is up.
    ~SerialWorker() override;
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void async(std::function<void()> work) override;

    // Drops the work that has not started and takes no more; returns at once. The shutdown limit
    // counts from the first stop, so that several workers stopped together and then destroyed one
    // after another are waited for one limit in all, not one limit each.
    void stop();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::chrono::milliseconds shutdownLimit_;
    std::thread thread_;
};

} // namespace tarvel
