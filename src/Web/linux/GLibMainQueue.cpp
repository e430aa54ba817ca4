#include "Web/linux/GLibMainQueue.h"

#include <glib.h>

namespace tarvel {

void GLibMainQueue::async(std::function<void()> work) {
    using Work = std::function<void()>;
    // Default priority: an answer must not wait behind redraws and layout, which run at idle
    // priorities; it still only runs once the callback that posted it has returned.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<Work*>(data))();
            return G_SOURCE_REMOVE;
        },
        new Work(std::move(work)), [](gpointer data) { delete static_cast<Work*>(data); });
}

} // namespace tarvel
