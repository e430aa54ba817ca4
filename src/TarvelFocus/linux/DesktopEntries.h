#pragma once
#include <optional>
#include <string>
#include <vector>

namespace tarvel_focus::linux_platform {

// A usable desktop entry: an application entry, not hidden, whose programs are found.
struct DesktopEntry {
    std::string id;                  // desktop-file id without ".desktop"
    std::optional<std::string> name; // localized Name
    std::string path; // the entry's file
};

// The desktop entries on the XDG data path, looked up the ways windows are matched to applications.
// Lists folders on first use only; reads an entry's file only when a lookup needs it. Only GLib's key
// file reader is used, so that finding an application never loads GIO.
class DesktopEntries {
public:
    // Application folders in order of precedence: an id found in an earlier folder hides the same id later.
    explicit DesktopEntries(std::vector<std::string> applicationFolders);
    // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS (with their defaults).
    static std::vector<std::string> xdgApplicationFolders();

    std::optional<DesktopEntry> byId(const std::string& id);
    std::optional<DesktopEntry> byIdIgnoringCase(const std::string& id);
    std::optional<DesktopEntry> byStartupWMClass(const std::string& wmClass);

private:
    struct File {
        std::string id;
        std::string path;
        std::optional<std::optional<std::string>> startupWMClass; // outer: read yet?
    };
    void listFolders();
    static std::optional<DesktopEntry> load(const File& file);

    std::vector<std::string> folders_;
    std::vector<File> files_;
    bool listed_ = false;
};

} // namespace tarvel_focus::linux_platform
