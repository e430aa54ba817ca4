#pragma once
#include "Platform/FolderMonitor.h"

namespace tarvel {

// Folder monitors from dispatch sources on a serial queue of their own. A folder's vnode source
// says that its entries changed, not which one (reported with an empty name); the entry that
// matters is watched as well, so that a write in place is heard, and opened anew whenever the
// folder changes, since a save by rename puts another file under its name.
class DispatchFolderMonitor final : public FolderMonitor {
public:
    DispatchFolderMonitor();
    std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, const std::string& entry, Changed changed) override;

private:
    struct Queue;
    std::shared_ptr<Queue> queue_;
};

} // namespace tarvel
