#include <glib.h>

#include <string>
#include <vector>

#include "Apps/linux/DesktopEntryFile.h"
#include "Karabiner/KarabinerEnvironment.h"

namespace tarvel {

// Linux stands in a desktop entry with the settings application's identifier, looked up on the
// XDG data path the way the desktop looks up applications. GIO's own lookup is not used: it scans
// every application folder first, following links without end, and this runs on the main thread.
bool KarabinerEnvironment::isInstalled() {
    std::vector<std::filesystem::path> folders{std::filesystem::path(g_get_user_data_dir()) / "applications"};
    for (const char* const* dir = g_get_system_data_dirs(); *dir; ++dir)
        folders.push_back(std::filesystem::path(*dir) / "applications");
    const std::string id(settingsBundleIdentifier);
    for (const auto& [entryId, path] : desktopEntryFiles(folders)) {
        if (entryId != id) continue;
        auto entry = DesktopEntryFile::read(path);
        return entry && !entry->hidden;
    }
    return false;
}

} // namespace tarvel
