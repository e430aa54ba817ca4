#pragma once
#include "RunningApplications.h"

namespace tarvel_focus::mac_platform {

// NFC through NSString's precomposed canonical mapping.
class FoundationNormalizer final : public Normalizer {
public:
    std::optional<std::string> composed(const std::string& text) const override;
};

} // namespace tarvel_focus::mac_platform
