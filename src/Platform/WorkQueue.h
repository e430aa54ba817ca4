#pragma once
#include <functional>

namespace tarvel {

// Where slow work goes instead of the main thread: a closure posted here runs later on another
// thread, one at a time, in the order posted. What it touches must be safe to use from there.
class WorkQueue {
public:
    virtual ~WorkQueue() = default;
    virtual void async(std::function<void()> work) = 0;
};

} // namespace tarvel
