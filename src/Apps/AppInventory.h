#pragma once
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Apps/AppRecord.h"
#include "Platform/FileManager.h"

namespace tarvel {

// An application's icon as the platform holds it; it becomes pixels only when a PNG is asked for.
class IconImage {
public:
    virtual ~IconImage() = default;
    // Base64 text (standard alphabet, padded, no line breaks) of a PNG holding the image drawn into
    // a fresh, transparent side x side square: stretched to fill it, with high-quality
    // interpolation, its pixels replacing (not blending onto) the destination's. None on failure.
    virtual std::optional<std::string> pngBase64(double side) const = 0;
};
using IconImagePtr = std::shared_ptr<const IconImage>;

// One application bundle (a desktop entry on Linux) as the catalog reads it.
struct CatalogEntry {
    std::optional<std::string> bundleIdentifier;  // none when the bundle has none or cannot be read
    std::string displayName;                      // what the platform's file browser shows, localized
    IconImagePtr icon;                            // the platform's icon for the item (a generic one when it has none)
};

// Where installed applications are found and how one is read.
class AppCatalog {
public:
    virtual ~AppCatalog() = default;
    // The folders searched for applications, in order.
    virtual std::vector<std::filesystem::path> searchRoots() const = 0;
    // The path extension that marks an application bundle, compared exactly ("app" on macOS).
    virtual std::string applicationExtension() const = 0;
    // The immediate entries of a folder, hidden ones skipped, in the platform's order; none when the
    // folder cannot be listed.
    virtual std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(const std::filesystem::path& folder) const = 0;
    // The bundle at `path`, or none when the platform does not count the item as an application at all.
    virtual std::optional<CatalogEntry> bundle(const std::filesystem::path& path) const = 0;
};

struct RunningApplication {
    enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    std::optional<std::string> bundlePath;
    IconImagePtr icon;
};

class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    // The running applications, in the platform's order.
    virtual std::vector<RunningApplication> runningApplications() const = 0;
};

// The file browser's order of names: locale-aware, case-insensitive, digit runs by numeric value.
class NameCollation {
public:
    virtual ~NameCollation() = default;
    // Negative when a goes before b, zero when they compare equal, positive otherwise.
    virtual int compare(std::string_view a, std::string_view b) const = 0;
};

// What the running application knows of itself.
class OwnIdentity {
public:
    virtual ~OwnIdentity() = default;
    virtual std::optional<std::string> bundleIdentifier() const = 0;
    virtual std::optional<std::filesystem::path> executablePath() const = 0;
};

// The inventory the editor page asks for. Stateless: every call asks the platform anew and never
// fails; failures become empty lists or absent values.
struct AppInventory {
    static constexpr std::string_view removedNameFragment = ".app";
    static constexpr double iconSide = 48;
    static constexpr std::string_view iconDataURIPrefix = "data:image/png;base64,";
    static constexpr std::string_view shortcutsToolPath = "/usr/bin/shortcuts";
    static constexpr std::string_view shortcutsArgument = "list";
    // The tool is ours to bound: a hung one must not freeze the window for good.
    static constexpr std::chrono::milliseconds shortcutsTimeLimit{10'000};
    // The list is data, not a message: 1 MB holds some 20,000 names of a usual length, far more than
    // anyone keeps, and is still a small part of the page's payload. Beyond it the tool is not
    // telling names; the complete lines that fit are kept.
    static constexpr std::size_t shortcutsMaxOutputBytes = 1024 * 1024;
    static constexpr std::string_view helperFileName = "tarvel-focus";
    // A machine with more installed applications than anyone could pick from: the rest are counted,
    // not read, so that a folder of ten thousand entries cannot hold the inventory up.
    static constexpr std::size_t maxInstalledApplications = 2000;
    // Drawing icons is most of an inventory's time; once one inventory has spent this much on it,
    // the remaining records go without icons.
    static constexpr std::chrono::milliseconds iconDrawingBudget{10'000};

    struct Services {
        const AppCatalog& catalog;
        const RunningApplications& runningApplications;
        const NameCollation& collation;
        const OwnIdentity& identity;
        const FileManager& fileManager = FileManager::defaultManager();
        // Constants in the product; only tests put other values here.
        std::filesystem::path shortcutsTool{std::string(shortcutsToolPath)};
        std::chrono::milliseconds shortcutsWaitLimit = shortcutsTimeLimit;
        std::size_t installedLimit = maxInstalledApplications;
        std::chrono::milliseconds iconTimeBudget = iconDrawingBudget;
    };

    static std::vector<std::filesystem::path> searchRoots(const Services& services);
    // At most installedLimit records; `omitted` (when given) receives how many more application
    // entries were passed over unread.
    static std::vector<AppRecord> installed(const Services& services, std::size_t* omitted = nullptr);
    static std::vector<AppRecord> running(const Services& services);
    static std::vector<std::string> shortcuts(const Services& services);
    static std::optional<std::string> helperPath(const Services& services);
    static std::optional<std::string> iconDataURI(const IconImage* image, double side);

    // running, installed, shortcuts and helperPath, collected in that order.
    static AppInventoryPayload collect(const Services& services);

    // Every ".app" taken out of an installed application's name.
    static std::string removingNameFragment(std::string name);
    // Both ends stripped of Unicode space separators and tabs (line breaks stay).
    static std::string_view trimmingWhitespace(std::string_view text);
};

} // namespace tarvel
