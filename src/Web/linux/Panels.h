#pragma once
#include <webkit/webkit.h>

#include <filesystem>
#include <optional>
#include <string_view>

namespace tarvel {

// The page's native services: alert and confirmation dialogs, the JSON file chooser for file
// inputs, and downloads saved into the Downloads folder under names that never overwrite.
struct Panels {
    static constexpr std::string_view okLabel = "OK";
    static constexpr std::string_view cancelLabel = "Cancel";

    // Connects the dialog and file-chooser handlers of `view`, and the download handler of its
    // network session for the downloads this view starts.
    static void attach(WebKitWebView* view);

    // The folder downloads go to: the user's Downloads folder, else the home folder.
    static std::filesystem::path downloadFolder();
};

} // namespace tarvel
