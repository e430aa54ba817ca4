#pragma once
#include "OpenFallback.h"

namespace tarvel_focus::mac_platform {

// Opens an application through NSWorkspace, activating it. The workspace reports on a queue of its
// own, so the caller's wait can time out.
class WorkspaceOpener final : public ApplicationOpener {
public:
    void openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) override;
};

} // namespace tarvel_focus::mac_platform
