#pragma once
#include "RunningApplications.h"

namespace tarvel_focus::linux_platform {

// NFC through ICU's normalizer. ICU is loaded on the first call, which only comes for text that is not
// plain ASCII; without it nothing normalizes and texts compare by their bytes.
class IcuNormalizer final : public Normalizer {
public:
    std::optional<std::string> composed(const std::string& text) const override;
    // Whether ICU could be loaded (loads it).
    static bool available();
};

} // namespace tarvel_focus::linux_platform
