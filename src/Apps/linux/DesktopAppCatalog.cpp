#include "Apps/linux/DesktopAppCatalog.h"

#include "Apps/linux/DesktopEntryFile.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

namespace tarvel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view desktopSuffix = ".desktop";

struct CloseDirectory {
    void operator()(DIR* directory) const noexcept { ::closedir(directory); }
};

} // namespace

DesktopAppCatalog::DesktopAppCatalog(const IconLookup& icons) : icons_(icons) {}

DesktopAppCatalog::DesktopAppCatalog(const IconLookup& icons, std::vector<fs::path> roots)
    : icons_(icons), roots_(std::move(roots)) {}

std::vector<fs::path> DesktopAppCatalog::xdgApplicationFolders() {
    std::vector<fs::path> folders;
    folders.push_back(fs::path(g_get_user_data_dir()) / "applications");
    for (const gchar* const* dir = g_get_system_data_dirs(); dir && *dir; ++dir)
        folders.push_back(fs::path(*dir) / "applications");
    return folders;
}

std::vector<fs::path> DesktopAppCatalog::searchRoots() const { return roots_ ? *roots_ : xdgApplicationFolders(); }

std::optional<std::vector<fs::path>> DesktopAppCatalog::contentsOfDirectory(const fs::path& folder) const {
    std::unique_ptr<DIR, CloseDirectory> directory(::opendir(folder.c_str()));
    if (!directory) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory.get())) {
        if (entry->d_name[0] == '.') continue;  // hidden, and the dot folders
        // A file name that is not UTF-8 cannot reach the page as text; the entry is passed over.
        if (!g_utf8_validate(entry->d_name, -1, nullptr)) continue;
        names.emplace_back(entry->d_name);
    }
    // The file system's own order is arbitrary; names in byte order keep equal-named entries stable.
    std::sort(names.begin(), names.end());
    std::vector<fs::path> entries;
    entries.reserve(names.size());
    for (const auto& name : names) entries.push_back(folder / name);
    return entries;
}

std::optional<CatalogEntry> DesktopAppCatalog::bundle(const fs::path& path) const {
    auto entry = DesktopEntryFile::read(path);
    if (!entry || entry->hidden || entry->noDisplay) return std::nullopt;
    // The desktop-file id ("org.gnome.Calculator"); the Name stands in for itself when it has none.
    std::string id = path.filename().string();
    if (id.size() > desktopSuffix.size() && id.ends_with(desktopSuffix)) id.resize(id.size() - desktopSuffix.size());
    return CatalogEntry{.bundleIdentifier = id.empty() ? std::nullopt : std::optional<std::string>(id),
                        .displayName = entry->name.empty() ? id : entry->name,
                        .icon = icons_.iconFor(entry->icon.get(), static_cast<int>(AppInventory::iconSide))};
}

} // namespace tarvel
