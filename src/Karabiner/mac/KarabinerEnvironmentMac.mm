#import <AppKit/AppKit.h>

#include <string>

#include "Karabiner/KarabinerEnvironment.h"

namespace tarvel {

// Installed exactly when Launch Services can locate the settings application by its bundle
// identifier; asked anew on every call.
bool KarabinerEnvironment::isInstalled() {
    NSString* identifier = @(std::string(settingsBundleIdentifier).c_str());
    return [[NSWorkspace sharedWorkspace] URLForApplicationWithBundleIdentifier:identifier] != nil;
}

} // namespace tarvel
