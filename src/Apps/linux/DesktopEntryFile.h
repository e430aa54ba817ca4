#pragma once
#include <gio/gio.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Apps/linux/GLibPointers.h"

namespace tarvel {

// A desktop entry of type Application, read with GLib's key-file parser and judged as GIO's desktop
// application info judges it. GIO's own is not used: making one first scans every application
// folder, following links without end, so that one link to "." in ~/.local/share/applications
// would hold the inventory forever.
struct DesktopEntryFile {
    std::filesystem::path path;
    std::string name;  // the localized Name; empty when it has none
    std::optional<std::string> startupWMClass;
    GObjectPtr<GIcon> icon;  // null when it names none
    bool hidden = false;     // deleted: it also hides entries of its id in later folders
    bool noDisplay = false;

    // None when the file is no key file or no application entry, or when its programs are not found.
    static std::optional<DesktopEntryFile> read(const std::filesystem::path& path);
};

// Every desktop entry file below `folders` (in order of precedence) with its desktop-file id (the
// relative path with '/' as '-', without ".desktop"), sorted by id; of files with one id the first
// folder's wins. Links are followed, but each folder is entered once however many ways lead to it,
// and no deeper than eight folders.
std::vector<std::pair<std::string, std::filesystem::path>> desktopEntryFiles(const std::vector<std::filesystem::path>& folders);

} // namespace tarvel
