#pragma once
#include "RunningApplications.h"

#include <chrono>

@class NSRunningApplication;

namespace tarvel_focus::mac_platform {

// One entry of the list: an NSRunningApplication.
class WorkspaceApplication final : public RunningApplication {
public:
    explicit WorkspaceApplication(NSRunningApplication* application) : application_(application) {}
    ActivationPolicy activationPolicy() const override;
    std::optional<std::string> localizedName() const override;
    std::optional<std::string> bundleIdentifier() const override;
    NSRunningApplication* application() const { return application_; }

private:
    NSRunningApplication* application_;
};

// Running applications as NSWorkspace lists them, brought forward through Launch Services.
class WorkspaceRunningApplications final : public RunningApplications {
public:
    // How long Launch Services may take to answer an activation.
    static constexpr std::chrono::seconds activationTimeout{5};
    // How long an application opened again may take to become active before it is asked directly.
    static constexpr std::chrono::milliseconds settleTime{1000};

    std::vector<std::shared_ptr<RunningApplication>> list() override;
    // An application with a bundle is opened again with activation, as the Dock and `open -a` do.
    // When that does not make it active within settleTime, and for one without a bundle, the
    // application is asked directly, with all windows: from the frontmost application
    // (activateFromApplication:options:), else with activateWithOptions:. False when it has quit or
    // every request is refused.
    bool activateAllWindows(RunningApplication& application) override;
};

} // namespace tarvel_focus::mac_platform
