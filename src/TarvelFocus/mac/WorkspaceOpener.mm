#include "WorkspaceOpener.h"

#import <AppKit/AppKit.h>

#include <memory>

namespace tarvel_focus::mac_platform {

void WorkspaceOpener::openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) {
    auto shared = std::make_shared<std::function<void(bool)>>(std::move(completion));
    NSString* path = [[NSString alloc] initWithBytes:absolutePath.data() length:absolutePath.size() encoding:NSUTF8StringEncoding];
    if (!path) {
        (*shared)(false);
        return;
    }
    NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
    configuration.activates = YES;
    [[NSWorkspace sharedWorkspace] openApplicationAtURL:[NSURL fileURLWithPath:path]
                                          configuration:configuration
                                      completionHandler:^(NSRunningApplication* application, NSError* error) {
                                          (void)application;  // not examined
                                          (*shared)(error == nil);
                                      }];
}

} // namespace tarvel_focus::mac_platform
