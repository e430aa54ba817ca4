#include "WorkspaceRunningApplications.h"

#import <AppKit/AppKit.h>

namespace tarvel_focus::mac_platform {

namespace {

std::optional<std::string> text(NSString* value) {
    if (!value) return std::nullopt;
    return std::string(value.UTF8String);
}

class WorkspaceApplication final : public RunningApplication {
public:
    explicit WorkspaceApplication(NSRunningApplication* application) : application_(application) {}

    ActivationPolicy activationPolicy() const override {
        switch (application_.activationPolicy) {
        case NSApplicationActivationPolicyRegular: return ActivationPolicy::regular;
        case NSApplicationActivationPolicyAccessory: return ActivationPolicy::accessory;
        default: return ActivationPolicy::prohibited;
        }
    }
    std::optional<std::string> localizedName() const override { return text(application_.localizedName); }
    std::optional<std::string> bundleIdentifier() const override { return text(application_.bundleIdentifier); }

    NSRunningApplication* application() const { return application_; }

private:
    NSRunningApplication* application_;
};

} // namespace

std::vector<std::shared_ptr<RunningApplication>> WorkspaceRunningApplications::list() {
    std::vector<std::shared_ptr<RunningApplication>> applications;
    for (NSRunningApplication* application in [NSWorkspace sharedWorkspace].runningApplications)
        applications.push_back(std::make_shared<WorkspaceApplication>(application));
    return applications;
}

void WorkspaceRunningApplications::activateAllWindows(RunningApplication& application) {
    // Only this layer's applications reach here.
    [static_cast<WorkspaceApplication&>(application).application() activateWithOptions:NSApplicationActivateAllWindows];
}

} // namespace tarvel_focus::mac_platform
