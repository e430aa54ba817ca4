#include "Web/linux/GLibMainQueue.h"

#include <glib.h>

namespace tarvel {

namespace {

void post(int priority, std::function<void()> work) {
    using Work = std::function<void()>;
    g_idle_add_full(
        priority,
        [](gpointer data) -> gboolean {
            (*static_cast<Work*>(data))();
            return G_SOURCE_REMOVE;
        },
        new Work(std::move(work)), [](gpointer data) { delete static_cast<Work*>(data); });
}

} // namespace

void GLibMainQueue::async(std::function<void()> work) {
    // Default priority: an answer must not wait behind redraws and layout, which run at idle
    // priorities; it still only runs once the callback that posted it has returned.
    post(G_PRIORITY_DEFAULT, std::move(work));
}

void GLibMainQueue::asyncAfterPendingWork(std::function<void()> work) { post(G_PRIORITY_DEFAULT_IDLE, std::move(work)); }

} // namespace tarvel
