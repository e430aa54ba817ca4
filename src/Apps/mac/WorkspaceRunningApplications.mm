#include "Apps/mac/WorkspaceRunningApplications.h"

#import <AppKit/AppKit.h>

#include "Apps/mac/WorkspaceIcon.h"

namespace tarvel {

namespace {

std::optional<std::string> text(NSString* value) {
    if (!value) return std::nullopt;
    return std::string(value.UTF8String);
}

RunningApplication::ActivationPolicy policy(NSApplicationActivationPolicy value) {
    switch (value) {
    case NSApplicationActivationPolicyRegular: return RunningApplication::ActivationPolicy::regular;
    case NSApplicationActivationPolicyAccessory: return RunningApplication::ActivationPolicy::accessory;
    default: return RunningApplication::ActivationPolicy::prohibited;
    }
}

} // namespace

// NSWorkspace's list and NSRunningApplication's properties may be read from any thread.
std::vector<RunningApplication> WorkspaceRunningApplications::runningApplications() const {
    @autoreleasepool {
        std::vector<RunningApplication> applications;
        for (NSRunningApplication* application in [NSWorkspace sharedWorkspace].runningApplications) {
            NSURL* bundle = application.bundleURL;
            applications.push_back({
                .activationPolicy = policy(application.activationPolicy),
                .bundleIdentifier = text(application.bundleIdentifier),
                .localizedName = text(application.localizedName),
                .bundlePath = bundle ? std::optional<std::string>(bundle.fileSystemRepresentation) : std::nullopt,
                .icon = WorkspaceIcon::wrap(application.icon),
            });
        }
        return applications;
    }
}

} // namespace tarvel
