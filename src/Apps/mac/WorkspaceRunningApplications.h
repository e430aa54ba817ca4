#pragma once
#include "Apps/AppInventory.h"

namespace tarvel {

// The running applications as NSWorkspace lists them, with their activation policies.
class WorkspaceRunningApplications final : public RunningApplications {
public:
    std::vector<RunningApplication> runningApplications() const override;
};

} // namespace tarvel
