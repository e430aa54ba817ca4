#include "Apps/linux/DesktopAppCatalog.h"

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

GObjectPtr<GDesktopAppInfo> DesktopAppCatalog::loadApplication(const fs::path& path) {
    // GIO refuses what is no application entry (another Type, a missing program, no key file).
    auto info = adopt(g_desktop_app_info_new_from_filename(path.c_str()));
    if (!info) return nullptr;
    if (g_desktop_app_info_get_is_hidden(info.get()) || g_desktop_app_info_get_nodisplay(info.get())) return nullptr;
    return info;
}

std::string DesktopAppCatalog::identifier(GDesktopAppInfo* info) {
    std::string id;
    if (const char* gioId = g_app_info_get_id(G_APP_INFO(info))) {
        id = gioId;
    } else if (const char* filename = g_desktop_app_info_get_filename(info)) {
        id = fs::path(filename).filename().string();
    }
    if (id.size() > desktopSuffix.size() && id.ends_with(desktopSuffix)) id.resize(id.size() - desktopSuffix.size());
    return id;
}

std::string DesktopAppCatalog::displayName(GDesktopAppInfo* info) {
    GCharPtr name(g_desktop_app_info_get_locale_string(info, G_KEY_FILE_DESKTOP_KEY_NAME));
    if (name && *name) return name.get();
    return identifier(info);
}

std::optional<CatalogEntry> DesktopAppCatalog::bundle(const fs::path& path) const {
    auto info = loadApplication(path);
    if (!info) return std::nullopt;
    std::string id = identifier(info.get());
    return CatalogEntry{.bundleIdentifier = id.empty() ? std::nullopt : std::optional<std::string>(std::move(id)),
                        .displayName = displayName(info.get()),
                        .icon = icons_.iconFor(g_app_info_get_icon(G_APP_INFO(info.get())),
                                               static_cast<int>(AppInventory::iconSide))};
}

} // namespace tarvel
