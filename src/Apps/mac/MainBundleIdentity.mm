#include "Apps/mac/MainBundleIdentity.h"

#import <Foundation/Foundation.h>

namespace tarvel {

std::optional<std::string> MainBundleIdentity::bundleIdentifier() const {
    NSString* identifier = [NSBundle mainBundle].bundleIdentifier;
    if (!identifier) return std::nullopt;
    return std::string(identifier.UTF8String);
}

std::optional<std::filesystem::path> MainBundleIdentity::executablePath() const {
    NSURL* executable = [NSBundle mainBundle].executableURL;
    if (!executable) return std::nullopt;
    return std::filesystem::path(executable.fileSystemRepresentation);
}

} // namespace tarvel
