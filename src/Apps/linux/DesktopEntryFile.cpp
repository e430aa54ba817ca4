#include "Apps/linux/DesktopEntryFile.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

namespace tarvel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view entrySuffix = ".desktop";
constexpr int maximumDepth = 8;

struct FreeKeyFile {
    void operator()(GKeyFile* file) const noexcept { g_key_file_free(file); }
};

std::optional<std::string> text(GKeyFile* file, const char* key) {
    GCharPtr value(g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
    if (!value) return std::nullopt;
    return std::string(value.get());
}

bool flag(GKeyFile* file, const char* key) {
    return g_key_file_get_boolean(file, G_KEY_FILE_DESKTOP_GROUP, key, nullptr) != FALSE;
}

bool programFound(const char* program) { return GCharPtr(g_find_program_in_path(program)) != nullptr; }

// The icon as GIO makes it of the Icon key: a file for an absolute path, else a themed name
// (without the image extension that entries often add by mistake).
GObjectPtr<GIcon> iconNamed(const std::string& value) {
    if (value.empty()) return nullptr;
    if (g_path_is_absolute(value.c_str())) return GObjectPtr<GIcon>(g_file_icon_new(adopt(g_file_new_for_path(value.c_str())).get()));
    std::string name = value;
    for (std::string_view extension : {".png", ".xpm", ".svg"})
        if (name.size() > extension.size() && name.ends_with(extension)) name.resize(name.size() - extension.size());
    return GObjectPtr<GIcon>(g_themed_icon_new(name.c_str()));
}

} // namespace

std::optional<DesktopEntryFile> DesktopEntryFile::read(const fs::path& path) {
    std::unique_ptr<GKeyFile, FreeKeyFile> keys(g_key_file_new());
    if (!g_key_file_load_from_file(keys.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    GCharPtr start(g_key_file_get_start_group(keys.get()));
    if (!start || std::string_view(start.get()) != G_KEY_FILE_DESKTOP_GROUP) return std::nullopt;
    if (text(keys.get(), G_KEY_FILE_DESKTOP_KEY_TYPE) != G_KEY_FILE_DESKTOP_TYPE_APPLICATION) return std::nullopt;

    DesktopEntryFile entry;
    entry.path = path;
    entry.hidden = flag(keys.get(), G_KEY_FILE_DESKTOP_KEY_HIDDEN);
    if (!entry.hidden) {
        // Programs that are not there make no application (GIO's rule).
        if (auto tryExec = text(keys.get(), G_KEY_FILE_DESKTOP_KEY_TRY_EXEC); tryExec && !tryExec->empty() && !programFound(tryExec->c_str()))
            return std::nullopt;
        if (auto exec = text(keys.get(), G_KEY_FILE_DESKTOP_KEY_EXEC); exec && !exec->empty()) {
            gchar** words = nullptr;
            if (!g_shell_parse_argv(exec->c_str(), nullptr, &words, nullptr)) return std::nullopt;
            const bool found = words && words[0] && programFound(words[0]);
            g_strfreev(words);
            if (!found) return std::nullopt;
        }
    }
    entry.noDisplay = flag(keys.get(), G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY);
    GCharPtr name(g_key_file_get_locale_string(keys.get(), G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_NAME, nullptr, nullptr));
    if (name) entry.name = name.get();
    entry.startupWMClass = text(keys.get(), G_KEY_FILE_DESKTOP_KEY_STARTUP_WM_CLASS);
    entry.icon = iconNamed(text(keys.get(), G_KEY_FILE_DESKTOP_KEY_ICON).value_or(""));
    return entry;
}

std::vector<std::pair<std::string, fs::path>> desktopEntryFiles(const std::vector<fs::path>& folders) {
    std::map<std::string, fs::path> byId;
    for (const fs::path& root : folders) {
        struct stat status {};
        if (::stat(root.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
        std::set<std::pair<dev_t, ino_t>> entered{{status.st_dev, status.st_ino}};
        struct Folder {
            std::string path, prefix;  // prefix: the id's start, "" or ending in "-"
            int depth;
        };
        std::vector<Folder> pending{{root.string(), "", 0}};
        while (!pending.empty()) {
            const Folder folder = std::move(pending.back());
            pending.pop_back();
            std::vector<std::string> names;
            if (DIR* directory = ::opendir(folder.path.c_str())) {
                while (const dirent* item = ::readdir(directory)) {
                    const std::string_view name = item->d_name;
                    if (name != "." && name != "..") names.emplace_back(name);
                }
                ::closedir(directory);
            }
            // In name order, so that of two ways into one folder the same one always counts.
            std::sort(names.begin(), names.end());
            std::vector<Folder> below;
            for (const std::string& name : names) {
                const std::string path = folder.path + "/" + name;
                if (::stat(path.c_str(), &status) != 0) continue;
                if (S_ISDIR(status.st_mode)) {
                    if (folder.depth < maximumDepth && entered.insert({status.st_dev, status.st_ino}).second)
                        below.push_back({path, folder.prefix + name + "-", folder.depth + 1});
                } else if (S_ISREG(status.st_mode) && name.size() > entrySuffix.size() && name.ends_with(entrySuffix)) {
                    byId.emplace(folder.prefix + name.substr(0, name.size() - entrySuffix.size()), path);
                }
            }
            pending.insert(pending.end(), below.rbegin(), below.rend());
        }
    }
    return {byId.begin(), byId.end()};
}

} // namespace tarvel
