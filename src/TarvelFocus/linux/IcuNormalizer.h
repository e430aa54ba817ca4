#pragma once
#include "RunningApplications.h"

namespace tarvel_focus::linux_platform {

// NFC through ICU's normalizer.
class IcuNormalizer final : public Normalizer {
public:
    std::optional<std::string> composed(const std::string& text) const override;
};

} // namespace tarvel_focus::linux_platform
