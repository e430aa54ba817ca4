#pragma once
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tarvel {

// A folder being watched; watching stops when it is destroyed (a change already on its way may
// still be reported once).
class FolderWatch {
public:
    virtual ~FolderWatch() = default;
};

// Tells when the entries of a folder change (GIO file monitors on Linux, dispatch sources on macOS).
class FolderMonitor {
public:
    // Called with the name of the entry that was created, removed, renamed, moved in or out, or
    // written; empty when the platform cannot tell which. Never on the main thread.
    using Changed = std::function<void(const std::string& entry)>;

    virtual ~FolderMonitor() = default;
    // Watches `folder`, an existing folder. `entry` is the name that matters to the caller: a
    // platform that hears of writes to a file only by watching the file itself watches that one
    // too. Null when the folder cannot be watched.
    virtual std::unique_ptr<FolderWatch> watch(const std::filesystem::path& folder, const std::string& entry,
                                               Changed changed) = 0;
};

} // namespace tarvel
