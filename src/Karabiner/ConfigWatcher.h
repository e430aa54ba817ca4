#pragma once
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FolderMonitor.h"
#include "Platform/Timer.h"

namespace tarvel {

// Tells when karabiner.json changes on disk, once the changes have settled. It watches the file's
// folder (a save by rename - Karabiner-Elements', an editor's, Tarvel's own - replaces the file, so
// the file itself cannot be watched), and for a link the folder of the file it leads to; a folder
// that does not exist yet is waited for from the nearest folder that does.
class ConfigWatcher {
public:
    // How long after the last change the news goes out: a save is several events (write, rename,
    // a backup beside it), and a `git pull` many.
    static constexpr std::chrono::milliseconds settleDelay{200};
    // Links followed from karabiner.json before giving up (a loop of links).
    static constexpr int maxLinks = 16;

    // One folder to watch and the entry in it that matters.
    struct Watched {
        std::filesystem::path folder;
        std::string entry;
        bool operator==(const Watched&) const = default;
    };
    // What to watch for `file`, read from the file system as it is now: the folder holding it under
    // its real path; when that folder is a link, also the folder holding the link; when the file is
    // a link, the same again for the path the link leads to. A folder that does not exist is
    // replaced by its nearest existing ancestor, watched for the next name on the way.
    static std::vector<Watched> plan(const std::filesystem::path& file);

    // Watching starts on the timer's thread. `changed` is called there, settleDelay after the last
    // change of the file or of anything on the way to it, and never once the watcher is gone. Null
    // timer: one of its own.
    ConfigWatcher(std::filesystem::path file, std::shared_ptr<FolderMonitor> monitor, std::shared_ptr<Timer> timer,
                  std::function<void()> changed);
    ~ConfigWatcher();
    ConfigWatcher(const ConfigWatcher&) = delete;
    ConfigWatcher& operator=(const ConfigWatcher&) = delete;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::shared_ptr<FolderMonitor> monitor_;
    std::shared_ptr<Timer> timer_;
};

} // namespace tarvel
