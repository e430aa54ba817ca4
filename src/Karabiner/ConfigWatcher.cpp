#include "Karabiner/ConfigWatcher.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace tarvel {

namespace fs = std::filesystem;

namespace {

bool isLink(const fs::path& path) {
    std::error_code error;
    return fs::is_symlink(fs::symlink_status(path, error));
}

bool isFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

fs::path realPath(const fs::path& path) {
    std::error_code error;
    fs::path real = fs::canonical(path, error);
    return error ? path : real;
}

} // namespace

std::vector<ConfigWatcher::Watched> ConfigWatcher::plan(const fs::path& file) {
    std::vector<Watched> watched;
    auto add = [&](Watched item) {
        if (std::find(watched.begin(), watched.end(), item) == watched.end()) watched.push_back(std::move(item));
    };
    std::error_code error;
    fs::path current = fs::absolute(file, error).lexically_normal();
    for (int links = 0; links <= maxLinks; ++links) {
        fs::path folder = current.parent_path();
        if (!isFolder(folder)) {
            // Wait for the first missing folder on the way to appear.
            fs::path missing = folder;
            while (missing.has_relative_path() && !isFolder(missing.parent_path())) missing = missing.parent_path();
            if (missing.has_relative_path()) add({realPath(missing.parent_path()), missing.filename().string()});
            break;
        }
        // A linked folder (Karabiner-Elements' advice for dotfiles) may be pointed elsewhere.
        if (isLink(folder) && isFolder(folder.parent_path()))
            add({realPath(folder.parent_path()), folder.filename().string()});
        add({realPath(folder), current.filename().string()});
        if (!isLink(current)) break;
        fs::path target = fs::read_symlink(current, error);
        if (error) break;
        current = (target.is_absolute() ? target : folder / target).lexically_normal();
    }
    return watched;
}

struct ConfigWatcher::State {
    fs::path file;
    // Owned by the watcher: a monitor's thread may hold the last reference to this state, and must
    // not be the one to end the monitor.
    FolderMonitor* monitor = nullptr;
    std::function<void()> changed;
    std::weak_ptr<Timer> timer;

    // Changes heard; taken by the monitors' threads.
    std::mutex eventMutex;
    std::vector<Watched> current;  // what is watched now, for telling which changes matter
    std::uint64_t generation = 0;
    bool started = false;

    // The watches themselves, and whether the watcher still exists; taken on the timer's thread
    // and by the watcher's owner.
    std::mutex watchMutex;
    std::vector<std::unique_ptr<FolderWatch>> watches;
    bool alive = true;

    void heard(const fs::path& folder, const std::string& entry, const std::shared_ptr<State>& self) {
        std::uint64_t due = 0;
        {
            std::lock_guard lock(eventMutex);
            const bool matters = entry.empty() || std::any_of(current.begin(), current.end(), [&](const Watched& w) {
                                     return w.folder == folder && w.entry == entry;
                                 });
            if (!matters) return;
            due = ++generation;
        }
        if (auto t = timer.lock()) t->runAfter(settleDelay, [self, due] { self->settled(due, self); });
    }

    // Watches what plan() says now; true when that differs from before.
    bool rewatch(const std::shared_ptr<State>& self) {
        auto next = plan(file);
        {
            std::lock_guard lock(eventMutex);
            if (started && next == current) return false;
            started = true;
            current = next;
        }
        watches.clear();
        for (const auto& item : next) {
            auto watch = monitor->watch(item.folder, item.entry, [weak = std::weak_ptr<State>(self), folder = item.folder](const std::string& entry) {
                if (auto state = weak.lock()) state->heard(folder, entry, state);
            });
            if (watch) watches.push_back(std::move(watch));
        }
        return true;
    }

    void settled(std::uint64_t due, const std::shared_ptr<State>& self) {
        {
            std::lock_guard lock(eventMutex);
            if (due != generation) return;  // a later change restarted the wait
        }
        std::lock_guard lock(watchMutex);
        if (!alive) return;
        // A folder created or a link pointed elsewhere changes what to watch; what appeared before
        // the new watches were in place is covered by the news that follows.
        for (int round = 0; round < 4 && rewatch(self); ++round) {
        }
        changed();
    }
};

ConfigWatcher::ConfigWatcher(fs::path file, std::shared_ptr<FolderMonitor> monitor, std::shared_ptr<Timer> timer,
                             std::function<void()> changed)
    : state_(std::make_shared<State>()), monitor_(std::move(monitor)),
      timer_(timer ? std::move(timer) : std::make_shared<TimerThread>()) {
    state_->file = std::move(file);
    state_->monitor = monitor_.get();
    state_->changed = std::move(changed);
    state_->timer = timer_;
    // The first watches are made on the timer's thread too: the caller is the main thread.
    timer_->runAfter(std::chrono::milliseconds(0), [state = state_] {
        std::lock_guard lock(state->watchMutex);
        if (state->alive) state->rewatch(state);
    });
}

ConfigWatcher::~ConfigWatcher() {
    std::vector<std::unique_ptr<FolderWatch>> watches;
    std::function<void()> changed;
    {
        std::lock_guard lock(state_->watchMutex);
        state_->alive = false;
        watches.swap(state_->watches);
        changed.swap(state_->changed);
    }
    watches.clear();
}

} // namespace tarvel
