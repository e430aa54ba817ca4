#pragma once
#include <string>

#include "Apps/AppInventory.h"
#include "Apps/linux/DesktopIcons.h"

namespace tarvel {

// Running applications as the window manager's EWMH client list shows them: the applications that
// own normal top-level windows shown in the task bar, matched to their desktop entries. Without an
// X11 display, or with a window manager that keeps no client list, there are none.
class X11RunningApplications final : public RunningApplications {
public:
    // `ownIdentifier`: what this process's own windows are reported as, whatever their desktop
    // entry (so that the inventory recognises itself even where its entry is not installed).
    // `displayName`: empty for $DISPLAY.
    X11RunningApplications(const IconLookup& icons, std::optional<std::string> ownIdentifier, std::string displayName = {});
    std::vector<RunningApplication> runningApplications() const override;

private:
    const IconLookup& icons_;
    std::optional<std::string> ownIdentifier_;
    std::string displayName_;
};

} // namespace tarvel
