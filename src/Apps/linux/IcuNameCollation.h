#pragma once
#include <unicode/ucol.h>

#include <string>

#include "Apps/AppInventory.h"

namespace tarvel {

// The file browser's order of names through ICU: the locale's collation with letter case ignored
// and digit runs compared by value ("App 2" before "App 10").
class IcuNameCollation final : public NameCollation {
public:
    // The current locale's (ICU's default); the root collation under the POSIX locale, whose
    // ICU tailoring orders by code point and would put every capital first.
    IcuNameCollation();
    explicit IcuNameCollation(const std::string& locale);
    ~IcuNameCollation() override;
    IcuNameCollation(const IcuNameCollation&) = delete;
    IcuNameCollation& operator=(const IcuNameCollation&) = delete;

    int compare(std::string_view a, std::string_view b) const override;

private:
    UCollator* collator_ = nullptr;
};

} // namespace tarvel
