#include "Platform/linux/GioFolderMonitor.h"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace tarvel {

namespace {

// Runs `work` on `context`'s thread.
void invoke(GMainContext* context, std::function<void()> work) {
    using Work = std::function<void()>;
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<Work*>(data))();
            return G_SOURCE_REMOVE;
        },
        new Work(std::move(work)), [](gpointer data) { delete static_cast<Work*>(data); });
}

// One folder's monitor; the GFileMonitor is touched on the loop's thread only.
struct Watched {
    FolderMonitor::Changed changed;
    GFileMonitor* monitor = nullptr;
};

void monitorChanged(GFileMonitor*, GFile* file, GFile* other, GFileMonitorEvent event, gpointer data) {
    auto* watched = static_cast<Watched*>(data);
    auto report = [&](GFile* entry) {
        if (!entry) return;
        char* name = g_file_get_basename(entry);
        if (name) watched->changed(name);
        g_free(name);
    };
    switch (event) {
    case G_FILE_MONITOR_EVENT_RENAMED:  // within the folder: both names changed
        report(file);
        report(other);
        break;
    case G_FILE_MONITOR_EVENT_PRE_UNMOUNT:
    case G_FILE_MONITOR_EVENT_UNMOUNTED:
        watched->changed("");
        break;
    default:
        report(file);
        break;
    }
}

void stopWatching(Watched* watched) {
    if (watched->monitor) {
        g_signal_handlers_disconnect_by_data(watched->monitor, watched);
        g_file_monitor_cancel(watched->monitor);
        g_object_unref(watched->monitor);
    }
    delete watched;
}

} // namespace

struct GioFolderMonitor::Loop {
    GMainContext* context = g_main_context_new();
    GMainLoop* loop = g_main_loop_new(context, FALSE);
    std::thread thread;
    std::set<Watched*> live;  // loop thread only

    ~Loop() {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }
};

GioFolderMonitor::GioFolderMonitor() : loop_(std::make_shared<Loop>()) {
    loop_->thread = std::thread([loop = loop_] {
        g_main_context_push_thread_default(loop->context);
        g_main_loop_run(loop->loop);
        for (auto* watched : loop->live) stopWatching(watched);
        loop->live.clear();
        // What is still queued (a watch asked for while the loop ended) is dropped with its data.
        while (g_main_context_iteration(loop->context, FALSE)) {
        }
        g_main_context_pop_thread_default(loop->context);
    });
}

GioFolderMonitor::~GioFolderMonitor() {
    invoke(loop_->context, [loop = loop_.get()] { g_main_loop_quit(loop->loop); });
    // A change reported on the loop's own thread may hold the last reference to the monitor.
    if (loop_->thread.get_id() == std::this_thread::get_id()) loop_->thread.detach();
    else loop_->thread.join();
}

std::unique_ptr<FolderWatch> GioFolderMonitor::watch(const std::filesystem::path& folder, const std::string&, Changed changed) {
    struct Ticket {
        std::mutex mutex;
        std::condition_variable ready;
        bool done = false;
        Watched* watched = nullptr;
    };
    auto ticket = std::make_shared<Ticket>();
    invoke(loop_->context, [loop = loop_.get(), ticket, folder, changed = std::move(changed)]() mutable {
        GFile* file = g_file_new_for_path(folder.c_str());
        // Moves reported as such, so that a save by rename names the file it replaced.
        GFileMonitor* monitor = g_file_monitor_directory(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr);
        g_object_unref(file);
        Watched* watched = nullptr;
        if (monitor) {
            watched = new Watched{std::move(changed), monitor};
            g_file_monitor_set_rate_limit(monitor, 50);
            g_signal_connect(monitor, "changed", G_CALLBACK(monitorChanged), watched);
            loop->live.insert(watched);
        }
        std::lock_guard lock(ticket->mutex);
        ticket->watched = watched;
        ticket->done = true;
        ticket->ready.notify_all();
    });
    std::unique_lock lock(ticket->mutex);
    ticket->ready.wait(lock, [&] { return ticket->done; });
    if (!ticket->watched) return nullptr;

    struct Watch : FolderWatch {
        std::shared_ptr<Loop> loop;
        Watched* watched;
        ~Watch() override {
            invoke(loop->context, [loop = loop, watched = watched] {
                if (loop->live.erase(watched)) stopWatching(watched);
            });
        }
    };
    auto watch = std::make_unique<Watch>();
    watch->loop = loop_;
    watch->watched = ticket->watched;
    return watch;
}

} // namespace tarvel
