#pragma once
#include "Platform/MainQueue.h"

namespace tarvel {

// Posts closures as idle sources on GLib's default main context, which GTK's main loop runs.
// Closures run in the order they were posted.
class GLibMainQueue : public MainQueue {
public:
    void async(std::function<void()> work) override;
    // At idle priority, below GTK's redraws.
    void asyncAfterPendingWork(std::function<void()> work) override;
};

} // namespace tarvel
