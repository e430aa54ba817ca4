#pragma once
#include <memory>

#include "Platform/FolderMonitor.h"

namespace tarvel {

// Folder monitors of GIO (inotify underneath), on a thread and main context of their own, so that
// neither the window's main loop nor a slow file system holds the other.
class GioFolderMonitor final : public FolderMonitor {
public:
    GioFolderMonitor();
    ~GioFolderMonitor() override;
    GioFolderMonitor(const GioFolderMonitor&) = delete;
    GioFolderMonitor& operator=(const GioFolderMonitor&) = delete;

    // Returns once the folder is watched (or could not be).
    std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, const std::string& entry, Changed changed) override;

private:
    struct Loop;
    std::shared_ptr<Loop> loop_;
};

} // namespace tarvel
