#pragma once
#include "Apps/AppInventory.h"

namespace tarvel {

// The Finder's order of names: NSString's localizedStandardCompare: in the user's locale.
class FoundationNameCollation final : public NameCollation {
public:
    int compare(std::string_view a, std::string_view b) const override;
};

} // namespace tarvel
