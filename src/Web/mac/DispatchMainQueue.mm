#include "Web/mac/DispatchMainQueue.h"

#import <dispatch/dispatch.h>

#include <memory>

namespace tarvel {

void DispatchMainQueue::async(std::function<void()> work) {
    // Always queued, also from the main thread: the closure runs after the current callback returns.
    auto shared = std::make_shared<std::function<void()>>(std::move(work));
    dispatch_async(dispatch_get_main_queue(), ^{
        (*shared)();
    });
}

} // namespace tarvel
