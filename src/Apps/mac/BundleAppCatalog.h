#pragma once
#include "Apps/AppInventory.h"

namespace tarvel {

// Installed applications as ".app" bundles in the five application folders.
class BundleAppCatalog final : public AppCatalog {
public:
    static constexpr const char* bundleExtension = "app";

    std::vector<std::filesystem::path> searchRoots() const override;
    std::string applicationExtension() const override { return bundleExtension; }
    std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(const std::filesystem::path& folder) const override;
    // Every item counts: one that is no readable bundle has no identifier.
    std::optional<CatalogEntry> bundle(const std::filesystem::path& path) const override;
};

} // namespace tarvel
