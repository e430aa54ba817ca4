#pragma once
#include "DesktopEntries.h"
#include "RunningApplications.h"

#include <xcb/xcb.h>

namespace tarvel_focus::linux_platform {

// Running applications as the window manager lists them: the owners of the windows in the EWMH client
// list on the default display. With no display there are none. Speaks X11 through XCB so that the
// properties of all windows are asked for at once rather than one round trip each.
class X11RunningApplications final : public RunningApplications {
public:
    explicit X11RunningApplications(DesktopEntries entries);
    ~X11RunningApplications() override;
    X11RunningApplications(const X11RunningApplications&) = delete;
    X11RunningApplications& operator=(const X11RunningApplications&) = delete;

    std::vector<std::shared_ptr<RunningApplication>> list() override;
    bool activateAllWindows(RunningApplication& application) override;

    class Application;
    struct Atoms;

private:
    bool connect();

    DesktopEntries entries_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    std::unique_ptr<Atoms> atoms_;
};

} // namespace tarvel_focus::linux_platform
