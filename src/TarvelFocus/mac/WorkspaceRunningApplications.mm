#include "WorkspaceRunningApplications.h"

#import <AppKit/AppKit.h>
#import <dispatch/dispatch.h>

#include <atomic>
#include <memory>

namespace tarvel_focus::mac_platform {

namespace {

std::optional<std::string> text(NSString* value) {
    if (!value) return std::nullopt;
    return std::string(value.UTF8String);
}

// Launch Services' answer to opening the running application at `bundle`, within the limit. The
// completion runs on a queue of its own and may come after the wait: it holds what it writes.
bool reopenWithActivation(NSURL* bundle, NSTimeInterval seconds) {
    NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
    configuration.activates = YES;
    configuration.addsToRecentItems = NO;
    auto opened = std::make_shared<std::atomic<bool>>(false);
    dispatch_semaphore_t answered = dispatch_semaphore_create(0);
    [[NSWorkspace sharedWorkspace] openApplicationAtURL:bundle
                                          configuration:configuration
                                      completionHandler:^(NSRunningApplication* application, NSError* error) {
                                          opened->store(application != nil && error == nil);
                                          dispatch_semaphore_signal(answered);
                                      }];
    (void)dispatch_semaphore_wait(answered, dispatch_time(DISPATCH_TIME_NOW, static_cast<int64_t>(seconds * NSEC_PER_SEC)));
    return opened->load();
}

// Whether `target` becomes the active application within `seconds`. NSRunningApplication learns of
// the change on the run loop, which turns meanwhile.
bool becomesActive(NSRunningApplication* target, NSTimeInterval seconds) {
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:seconds];
    while (!target.active) {
        if (target.terminated || deadline.timeIntervalSinceNow <= 0) return false;
        if (![[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]])
            [NSThread sleepForTimeInterval:0.05];  // a run loop without sources returns at once
    }
    return true;
}

// The application asked directly: on behalf of the frontmost application (macOS 14's cooperative
// activation), else on its own.
bool activateDirectly(NSRunningApplication* target) {
    if (target.terminated) return false;
    NSRunningApplication* front = [NSWorkspace sharedWorkspace].frontmostApplication;
    if (front && front.processIdentifier != target.processIdentifier &&
        [target activateFromApplication:front options:NSApplicationActivateAllWindows])
        return true;
    return [target activateWithOptions:NSApplicationActivateAllWindows];
}

} // namespace

ActivationPolicy WorkspaceApplication::activationPolicy() const {
    switch (application_.activationPolicy) {
    case NSApplicationActivationPolicyRegular: return ActivationPolicy::regular;
    case NSApplicationActivationPolicyAccessory: return ActivationPolicy::accessory;
    default: return ActivationPolicy::prohibited;
    }
}

std::optional<std::string> WorkspaceApplication::localizedName() const { return text(application_.localizedName); }

std::optional<std::string> WorkspaceApplication::bundleIdentifier() const { return text(application_.bundleIdentifier); }

std::vector<std::shared_ptr<RunningApplication>> WorkspaceRunningApplications::list() {
    std::vector<std::shared_ptr<RunningApplication>> applications;
    for (NSRunningApplication* application in [NSWorkspace sharedWorkspace].runningApplications)
        applications.push_back(std::make_shared<WorkspaceApplication>(application));
    return applications;
}

bool WorkspaceRunningApplications::activateAllWindows(RunningApplication& application) {
    // Only this layer's applications reach here.
    NSRunningApplication* target = static_cast<WorkspaceApplication&>(application).application();
    if (target.terminated) return false;
    // Since macOS 14 activation is cooperative: a request from a process that is not active itself
    // (this command, started by Karabiner-Elements) is granted only when no application is active,
    // and ignoring other applications has no effect any more. Launch Services usually activates on
    // the user's behalf, whatever is in front.
    NSURL* bundle = target.bundleURL;
    if (bundle && [bundle.pathExtension isEqualToString:@"app"] &&
        reopenWithActivation(bundle, static_cast<NSTimeInterval>(activationTimeout.count())) &&
        becomesActive(target, static_cast<NSTimeInterval>(settleTime.count()) / 1000))
        return true;
    // No bundle, or Launch Services did not bring it forward (a request from a process that is not
    // active may be declined).
    return activateDirectly(target);
}

} // namespace tarvel_focus::mac_platform
