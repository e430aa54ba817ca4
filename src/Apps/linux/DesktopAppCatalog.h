#pragma once
#include <optional>
#include <string>
#include <vector>

#include "Apps/AppInventory.h"
#include "Apps/linux/DesktopIcons.h"

namespace tarvel {

// Installed applications as desktop entries in the XDG application folders.
class DesktopAppCatalog final : public AppCatalog {
public:
    static constexpr const char* entryExtension = "desktop";

    // Searches the XDG application folders of this session.
    explicit DesktopAppCatalog(const IconLookup& icons);
    // Searches exactly these folders.
    DesktopAppCatalog(const IconLookup& icons, std::vector<std::filesystem::path> roots);

    std::vector<std::filesystem::path> searchRoots() const override;
    std::string applicationExtension() const override { return entryExtension; }
    std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(const std::filesystem::path& folder) const override;
    std::optional<CatalogEntry> bundle(const std::filesystem::path& path) const override;

    // $XDG_DATA_HOME/applications, then each $XDG_DATA_DIRS/applications, in order.
    static std::vector<std::filesystem::path> xdgApplicationFolders();

private:
    const IconLookup& icons_;
    std::optional<std::vector<std::filesystem::path>> roots_;
};

} // namespace tarvel
