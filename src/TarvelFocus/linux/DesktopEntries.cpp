#include "DesktopEntries.h"

#include "GLibPtr.h"

#include <algorithm>
#include <dirent.h>
#include <glib.h>
#include <set>
#include <sys/stat.h>

namespace tarvel_focus::linux_platform {

namespace {

constexpr std::string_view kSuffix = ".desktop";
// Application folders nest a level or two ("kde4/"); nothing real is deeper.
constexpr int kMaxDepth = 8;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Every *.desktop below `root` with its id: the relative path with '/' turned into '-', sorted by id.
// Links are followed, but each folder is entered once however many ways lead to it (a link to "."
// or ".." would otherwise be walked without end), and no deeper than kMaxDepth.
std::vector<std::pair<std::string, std::string>> entriesBelow(const std::string& root) {
    std::vector<std::pair<std::string, std::string>> found;
    struct stat status {};
    if (stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return found;
    std::set<std::pair<dev_t, ino_t>> entered{{status.st_dev, status.st_ino}};

    struct Folder {
        std::string path, relative;  // relative: "" or ending in "/"
        int depth;
    };
    std::vector<Folder> pending{{root, "", 0}};
    while (!pending.empty()) {
        const Folder folder = std::move(pending.back());
        pending.pop_back();
        std::vector<std::string> names;
        if (DIR* directory = opendir(folder.path.c_str())) {
            while (const dirent* item = readdir(directory)) {
                const std::string_view name = item->d_name;
                if (name != "." && name != "..") names.emplace_back(name);
            }
            closedir(directory);
        }
        // Walked in name order, so that of two ways into one folder the same one always counts.
        std::sort(names.begin(), names.end());
        std::vector<Folder> below;
        for (const auto& name : names) {
            const std::string path = folder.path + "/" + name;
            if (stat(path.c_str(), &status) != 0) continue;
            if (S_ISDIR(status.st_mode)) {
                if (folder.depth < kMaxDepth && entered.insert({status.st_dev, status.st_ino}).second)
                    below.push_back({path, folder.relative + name + "/", folder.depth + 1});
            } else if (S_ISREG(status.st_mode) && endsWith(name, kSuffix) && name.size() > kSuffix.size()) {
                std::string id = folder.relative + name;
                std::replace(id.begin(), id.end(), '/', '-');
                id.resize(id.size() - kSuffix.size());
                found.emplace_back(std::move(id), path);
            }
        }
        pending.insert(pending.end(), below.rbegin(), below.rend());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::optional<std::string> readStartupWMClass(const std::string& path) {
    GKeyFilePtr file(g_key_file_new());
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    GMemoryPtr<gchar> value(g_key_file_get_string(file.get(), G_KEY_FILE_DESKTOP_GROUP,
                                                  G_KEY_FILE_DESKTOP_KEY_STARTUP_WM_CLASS, nullptr));
    if (!value) return std::nullopt;
    return std::string(value.get());
}

} // namespace

DesktopEntries::DesktopEntries(std::vector<std::string> applicationFolders)
    : folders_(std::move(applicationFolders)) {}

std::vector<std::string> DesktopEntries::xdgApplicationFolders() {
    std::vector<std::string> folders{std::string(g_get_user_data_dir()) + "/applications"};
    for (const gchar* const* dir = g_get_system_data_dirs(); dir && *dir; ++dir)
        folders.push_back(std::string(*dir) + "/applications");
    return folders;
}

void DesktopEntries::listFolders() {
    if (listed_) return;
    listed_ = true;
    std::set<std::string> seen;
    for (const auto& folder : folders_) {
        for (auto& [id, path] : entriesBelow(folder)) {
            if (seen.insert(id).second) files_.push_back({std::move(id), std::move(path), std::nullopt});
        }
    }
}

std::optional<DesktopEntry> DesktopEntries::load(const File& file) {
    GKeyFilePtr keys(g_key_file_new());
    if (!g_key_file_load_from_file(keys.get(), file.path.c_str(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    const auto text = [&](const char* key) {
        return GMemoryPtr<gchar>(g_key_file_get_string(keys.get(), G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
    };
    const auto flag = [&](const char* key) {
        return g_key_file_get_boolean(keys.get(), G_KEY_FILE_DESKTOP_GROUP, key, nullptr) != FALSE;
    };

    // The same entries that GIO's desktop application info accepts: an application entry whose
    // TryExec and Exec programs exist, not hidden.
    const GMemoryPtr<gchar> startGroup(g_key_file_get_start_group(keys.get()));
    if (!startGroup || std::string_view(startGroup.get()) != G_KEY_FILE_DESKTOP_GROUP) return std::nullopt;
    const auto type = text(G_KEY_FILE_DESKTOP_KEY_TYPE);
    if (!type || std::string_view(type.get()) != G_KEY_FILE_DESKTOP_TYPE_APPLICATION) return std::nullopt;
    if (const auto tryExec = text(G_KEY_FILE_DESKTOP_KEY_TRY_EXEC); tryExec && *tryExec) {
        if (!GMemoryPtr<gchar>(g_find_program_in_path(tryExec.get()))) return std::nullopt;
    }
    if (const auto exec = text(G_KEY_FILE_DESKTOP_KEY_EXEC); exec && *exec) {
        gchar** words = nullptr;
        if (!g_shell_parse_argv(exec.get(), nullptr, &words, nullptr)) return std::nullopt;
        const bool found = words && words[0] && GMemoryPtr<gchar>(g_find_program_in_path(words[0]));
        g_strfreev(words);
        if (!found) return std::nullopt;
    }
    if (flag(G_KEY_FILE_DESKTOP_KEY_HIDDEN)) return std::nullopt;

    GMemoryPtr<gchar> name(
        g_key_file_get_locale_string(keys.get(), G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr, nullptr));
    return DesktopEntry{file.id, name ? std::optional<std::string>(name.get()) : std::nullopt, file.path};
}

std::optional<DesktopEntry> DesktopEntries::byId(const std::string& id) {
    listFolders();
    const auto file = std::find_if(files_.begin(), files_.end(), [&](const File& f) { return f.id == id; });
    return file == files_.end() ? std::nullopt : load(*file);
}

std::optional<DesktopEntry> DesktopEntries::byIdIgnoringCase(const std::string& id) {
    listFolders();
    for (const auto& file : files_) {
        if (file.id.size() != id.size() || g_ascii_strcasecmp(file.id.c_str(), id.c_str()) != 0) continue;
        if (auto entry = load(file)) return entry;
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntries::byStartupWMClass(const std::string& wmClass) {
    listFolders();
    for (auto& file : files_) {
        if (!file.startupWMClass) file.startupWMClass = readStartupWMClass(file.path);
        if (*file.startupWMClass != wmClass) continue;
        if (auto entry = load(file)) return entry;
    }
    return std::nullopt;
}

} // namespace tarvel_focus::linux_platform
