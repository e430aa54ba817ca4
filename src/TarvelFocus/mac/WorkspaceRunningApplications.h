#pragma once
#include "RunningApplications.h"

namespace tarvel_focus::mac_platform {

// Running applications as NSWorkspace lists them, activated through NSRunningApplication.
class WorkspaceRunningApplications final : public RunningApplications {
public:
    std::vector<std::shared_ptr<RunningApplication>> list() override;
    // activateWithOptions: with all windows only (not ignoring other applications).
    void activateAllWindows(RunningApplication& application) override;
};

} // namespace tarvel_focus::mac_platform
