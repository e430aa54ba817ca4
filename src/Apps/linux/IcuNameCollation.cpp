#include "Apps/linux/IcuNameCollation.h"

#include <unicode/uloc.h>

#include <cstring>

namespace tarvel {

namespace {

std::string currentLocale() {
    const char* locale = uloc_getDefault();
    if (!locale || std::strcmp(locale, "en_US_POSIX") == 0 || std::strcmp(locale, "c") == 0) return "";
    return locale;
}

} // namespace

IcuNameCollation::IcuNameCollation() : IcuNameCollation(currentLocale()) {}

IcuNameCollation::IcuNameCollation(const std::string& locale) {
    UErrorCode status = U_ZERO_ERROR;
    collator_ = ucol_open(locale.c_str(), &status);
    if (U_FAILURE(status)) {
        if (collator_) ucol_close(collator_);
        status = U_ZERO_ERROR;
        collator_ = ucol_open("", &status);
        if (U_FAILURE(status)) collator_ = nullptr;
    }
    if (!collator_) return;
    // Secondary strength: accents count, letter case does not.
    ucol_setStrength(collator_, UCOL_SECONDARY);
    ucol_setAttribute(collator_, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
}

IcuNameCollation::~IcuNameCollation() {
    if (collator_) ucol_close(collator_);
}

int IcuNameCollation::compare(std::string_view a, std::string_view b) const {
    if (collator_) {
        UErrorCode status = U_ZERO_ERROR;
        UCollationResult result = ucol_strcollUTF8(collator_, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                                   static_cast<int32_t>(b.size()), &status);
        if (U_SUCCESS(status)) return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
    }
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

} // namespace tarvel
