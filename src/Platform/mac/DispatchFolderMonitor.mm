#include "Platform/mac/DispatchFolderMonitor.h"

#include <dispatch/dispatch.h>
#include <fcntl.h>
#include <unistd.h>

namespace tarvel {

struct DispatchFolderMonitor::Queue {
    dispatch_queue_t queue = dispatch_queue_create("app.tarvel.folder-monitor", DISPATCH_QUEUE_SERIAL);
};

namespace {

constexpr unsigned long folderEvents = DISPATCH_VNODE_WRITE | DISPATCH_VNODE_DELETE | DISPATCH_VNODE_RENAME | DISPATCH_VNODE_REVOKE;
constexpr unsigned long fileEvents = DISPATCH_VNODE_WRITE | DISPATCH_VNODE_EXTEND | DISPATCH_VNODE_ATTRIB | DISPATCH_VNODE_DELETE |
                                     DISPATCH_VNODE_RENAME | DISPATCH_VNODE_REVOKE | DISPATCH_VNODE_LINK;

// A vnode source on `path`, or null when it cannot be opened. Its descriptor closes with it.
dispatch_source_t vnodeSource(const std::filesystem::path& path, unsigned long events, dispatch_queue_t queue, dispatch_block_t handler) {
    const int fd = ::open(path.c_str(), O_EVTONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_VNODE, static_cast<uintptr_t>(fd), events, queue);
    if (!source) {
        ::close(fd);
        return nullptr;
    }
    dispatch_source_set_event_handler(source, handler);
    dispatch_source_set_cancel_handler(source, ^{
        ::close(fd);
    });
    dispatch_resume(source);
    return source;
}

// What the sources' handlers share; touched on the monitor's queue only.
struct Watched {
    std::filesystem::path folder;
    std::string entry;
    FolderMonitor::Changed changed;
    dispatch_queue_t queue;
    dispatch_source_t folderSource = nullptr;
    dispatch_source_t entrySource = nullptr;
    bool stopped = false;

    void watchEntry(const std::shared_ptr<Watched>& self) {
        if (entrySource) dispatch_source_cancel(entrySource);
        entrySource = nullptr;
        if (entry.empty()) return;
        std::weak_ptr<Watched> weak = self;
        entrySource = vnodeSource(folder / entry, fileEvents, queue, ^{
            if (auto watched = weak.lock(); watched && !watched->stopped) {
                watched->changed(watched->entry);
                watched->watchEntry(watched);
            }
        });
    }

    void stop() {
        stopped = true;
        if (folderSource) dispatch_source_cancel(folderSource);
        if (entrySource) dispatch_source_cancel(entrySource);
        folderSource = entrySource = nullptr;
    }
};

} // namespace

DispatchFolderMonitor::DispatchFolderMonitor() : queue_(std::make_shared<Queue>()) {}

std::unique_ptr<FolderWatch> DispatchFolderMonitor::watch(const std::filesystem::path& folder, const std::string& entry, Changed changed) {
    auto watched = std::make_shared<Watched>();
    watched->folder = folder;
    watched->entry = entry;
    watched->changed = std::move(changed);
    watched->queue = queue_->queue;
    __block bool made = false;
    dispatch_sync(queue_->queue, ^{
        std::weak_ptr<Watched> weak = watched;
        watched->folderSource = vnodeSource(folder, folderEvents, watched->queue, ^{
            if (auto w = weak.lock(); w && !w->stopped) {
                w->changed("");
                w->watchEntry(w);
            }
        });
        if (watched->folderSource) {
            watched->watchEntry(watched);
            made = true;
        }
    });
    if (!made) return nullptr;

    struct Watch : FolderWatch {
        std::shared_ptr<Watched> watched;
        ~Watch() override {
            auto stopping = watched;
            dispatch_async(stopping->queue, ^{
                stopping->stop();
            });
        }
    };
    auto watch = std::make_unique<Watch>();
    watch->watched = std::move(watched);
    return watch;
}

} // namespace tarvel
