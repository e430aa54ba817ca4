#pragma once
#import <WebKit/WebKit.h>

#include <filesystem>
#include <string_view>

namespace tarvel {

// The page's native services: the JSON open panel for file inputs, alert and confirmation dialogs,
// and where downloads are saved, in the Downloads folder under names that never overwrite.
struct Panels {
    // The confirmation's buttons, by their English titles: the keys of the Panels string table
    // (en.lproj and ja.lproj beside this file, copied into the bundle).
    static constexpr std::string_view okLabel = "OK";
    static constexpr std::string_view cancelLabel = "Cancel";

    // A free-standing (not a sheet), non-blocking open panel offering JSON only: folders when the
    // input allows folders, files otherwise. `completion` gets the chosen items, or nil on cancel.
    static void runOpenPanel(WKOpenPanelParameters* parameters, void (^completion)(NSArray<NSURL*>*));
    // Modal: the page's message and the platform's single default button.
    static void runAlert(NSString* message);
    // Modal: true exactly when OK closed it; Cancel and Escape answer false.
    static bool runConfirm(NSString* message);

    // The user's first Downloads folder, else the home folder.
    static std::filesystem::path downloadFolder();
    // A file in `folder` (nil: downloadFolder()), named after `suggestedFilename`, that does not
    // exist yet.
    static NSURL* downloadDestination(NSString* suggestedFilename, NSURL* folder = nil);
    // Says that the download to `destination` failed and why: a sheet on `window`, or a modal alert
    // when there is none.
    static void showDownloadFailure(NSURL* destination, NSError* error, NSWindow* window);
    static constexpr std::string_view downloadFailedTitle = "The download could not be saved";
    static constexpr std::string_view downloadsPermissionHint =
        "If macOS asked whether Tarvel may use the Downloads folder, allow it in System Settings > "
        "Privacy & Security > Files and Folders, then export again.";
};

} // namespace tarvel
