#pragma once
#include "Apps/AppInventory.h"

namespace tarvel {

// This application as its main bundle describes it: bundle identifier and executable.
class MainBundleIdentity final : public OwnIdentity {
public:
    std::optional<std::string> bundleIdentifier() const override;
    std::optional<std::filesystem::path> executablePath() const override;
};

} // namespace tarvel
