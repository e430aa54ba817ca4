#include "Apps/mac/BundleAppCatalog.h"

#import <AppKit/AppKit.h>

#include "Apps/mac/WorkspaceIcon.h"

namespace tarvel {

namespace fs = std::filesystem;

namespace {

NSString* pathText(const fs::path& path) { return [NSString stringWithUTF8String:path.c_str()]; }

std::string text(NSString* value) {
    const char* bytes = value.UTF8String;
    return bytes ? bytes : "";
}

} // namespace

std::vector<fs::path> BundleAppCatalog::searchRoots() const {
    NSURL* home = [NSFileManager defaultManager].homeDirectoryForCurrentUser;
    return {"/Applications", "/System/Applications", "/Applications/Utilities", "/System/Applications/Utilities",
            fs::path([home URLByAppendingPathComponent:@"Applications"].fileSystemRepresentation)};
}

// Every service here is safe on any thread (NSFileManager's shared manager, NSBundle, NSWorkspace's
// icons), and each call drains what it made: the inventory is collected away from the main thread,
// where no run loop drains a pool.

std::optional<std::vector<fs::path>> BundleAppCatalog::contentsOfDirectory(const fs::path& folder) const {
    @autoreleasepool {
        NSString* folderPath = pathText(folder);
        if (!folderPath) return std::nullopt;
        NSArray<NSURL*>* contents =
            [[NSFileManager defaultManager] contentsOfDirectoryAtURL:[NSURL fileURLWithPath:folderPath isDirectory:YES]
                                          includingPropertiesForKeys:nil
                                                             options:NSDirectoryEnumerationSkipsHiddenFiles
                                                               error:nullptr];
        if (!contents) return std::nullopt;
        std::vector<fs::path> entries;
        entries.reserve(contents.count);
        for (NSURL* entry in contents) entries.emplace_back(entry.fileSystemRepresentation);
        return entries;
    }
}

std::optional<CatalogEntry> BundleAppCatalog::bundle(const fs::path& path) const {
    @autoreleasepool {
        NSString* bundlePath = pathText(path);
        if (!bundlePath) return std::nullopt;
        NSString* identifier = [NSBundle bundleWithURL:[NSURL fileURLWithPath:bundlePath]].bundleIdentifier;
        return CatalogEntry{
            .bundleIdentifier = identifier ? std::optional<std::string>(identifier.UTF8String) : std::nullopt,
            .displayName = text([[NSFileManager defaultManager] displayNameAtPath:bundlePath]),
            .icon = WorkspaceIcon::wrap([[NSWorkspace sharedWorkspace] iconForFile:bundlePath]),
        };
    }
}

} // namespace tarvel
