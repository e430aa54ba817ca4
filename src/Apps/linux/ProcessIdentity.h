#pragma once
#include "Apps/AppInventory.h"

namespace tarvel {

// This process: the GApplication id (app.tarvel.Tarvel when none is registered) and /proc/self/exe.
class ProcessIdentity final : public OwnIdentity {
public:
    std::optional<std::string> bundleIdentifier() const override;
    std::optional<std::filesystem::path> executablePath() const override;
};

} // namespace tarvel
