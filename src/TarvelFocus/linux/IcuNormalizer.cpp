#include "IcuNormalizer.h"

#include "SharedLibrary.h"

#include <climits>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>
#include <vector>

// ICU renames its functions by major version (unorm2_normalize is unorm2_normalize_72); these give the
// exact names and library that the headers were built for.
#define TARVEL_FOCUS_TEXT(x) #x
#define TARVEL_FOCUS_NAME(x) TARVEL_FOCUS_TEXT(x)

namespace tarvel_focus::linux_platform {

namespace {

// The four ICU functions used, loaded together on the first text that is not plain ASCII.
struct Icu {
    Icu()
        : library("libicuuc.so." TARVEL_FOCUS_NAME(U_ICU_VERSION_MAJOR_NUM)),
          fromUtf8(library.function<decltype(u_strFromUTF8WithSub)>(TARVEL_FOCUS_NAME(u_strFromUTF8WithSub))),
          toUtf8(library.function<decltype(u_strToUTF8)>(TARVEL_FOCUS_NAME(u_strToUTF8))),
          nfcInstance(library.function<decltype(unorm2_getNFCInstance)>(TARVEL_FOCUS_NAME(unorm2_getNFCInstance))),
          normalize(library.function<decltype(unorm2_normalize)>(TARVEL_FOCUS_NAME(unorm2_normalize))) {}

    bool usable() const { return fromUtf8 && toUtf8 && nfcInstance && normalize; }

    SharedLibrary library;
    decltype(u_strFromUTF8WithSub)* fromUtf8;
    decltype(u_strToUTF8)* toUtf8;
    decltype(unorm2_getNFCInstance)* nfcInstance;
    decltype(unorm2_normalize)* normalize;
};

const Icu& icu() {
    static const Icu loaded;
    return loaded;
}

std::optional<std::vector<UChar>> toUtf16(const Icu& icu, const std::string& text) {
    if (text.size() > INT32_MAX / 2) return std::nullopt;
    std::vector<UChar> units(text.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    // Substitution character -1: ill-formed input is an error, not silently replaced.
    icu.fromUtf8(units.data(), static_cast<int32_t>(units.size()), &length, text.data(),
                 static_cast<int32_t>(text.size()), -1, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    units.resize(static_cast<std::size_t>(length));
    return units;
}

std::optional<std::string> toUtf8(const Icu& icu, const std::vector<UChar>& units) {
    // At most three bytes per UTF-16 unit.
    std::string text(units.size() * 3 + 1, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    icu.toUtf8(text.data(), static_cast<int32_t>(text.size()), &length, units.data(),
               static_cast<int32_t>(units.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    text.resize(static_cast<std::size_t>(length));
    return text;
}

} // namespace

bool IcuNormalizer::available() { return icu().usable(); }

std::optional<std::string> IcuNormalizer::composed(const std::string& text) const {
    const Icu& icu = linux_platform::icu();
    if (!icu.usable()) return std::nullopt;
    const auto source = toUtf16(icu, text);
    if (!source) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = icu.nfcInstance(&status);
    if (U_FAILURE(status)) return std::nullopt;

    const auto sourceLength = static_cast<int32_t>(source->size());
    std::vector<UChar> result(source->size() + 1);
    int32_t length = icu.normalize(nfc, source->data(), sourceLength, result.data(),
                                   static_cast<int32_t>(result.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        result.resize(static_cast<std::size_t>(length) + 1);
        length = icu.normalize(nfc, source->data(), sourceLength, result.data(), static_cast<int32_t>(result.size()),
                               &status);
    }
    if (U_FAILURE(status)) return std::nullopt;
    result.resize(static_cast<std::size_t>(length));
    return toUtf8(icu, result);
}

} // namespace tarvel_focus::linux_platform
