#pragma once
#include "Platform/MainQueue.h"

namespace tarvel {

// Posts closures to the main dispatch queue, which the application's run loop drains. Closures run
// in the order they were posted.
class DispatchMainQueue : public MainQueue {
public:
    void async(std::function<void()> work) override;
};

} // namespace tarvel
