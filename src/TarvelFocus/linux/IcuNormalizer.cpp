#include "IcuNormalizer.h"

#include <climits>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <vector>

namespace tarvel_focus::linux_platform {

namespace {

std::optional<std::vector<UChar>> toUtf16(const std::string& text) {
    if (text.size() > INT32_MAX / 2) return std::nullopt;
    std::vector<UChar> units(text.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    // Substitution character -1: ill-formed input is an error, not silently replaced.
    u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), -1, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    units.resize(static_cast<std::size_t>(length));
    return units;
}

std::optional<std::string> toUtf8(const std::vector<UChar>& units) {
    // At most three bytes per UTF-16 unit.
    std::string text(units.size() * 3 + 1, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(text.data(), static_cast<int32_t>(text.size()), &length, units.data(),
                static_cast<int32_t>(units.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    text.resize(static_cast<std::size_t>(length));
    return text;
}

} // namespace

std::optional<std::string> IcuNormalizer::composed(const std::string& text) const {
    const auto source = toUtf16(text);
    if (!source) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return std::nullopt;

    const auto sourceLength = static_cast<int32_t>(source->size());
    std::vector<UChar> result(source->size() + 1);
    int32_t length = unorm2_normalize(nfc, source->data(), sourceLength, result.data(),
                                      static_cast<int32_t>(result.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        result.resize(static_cast<std::size_t>(length) + 1);
        length = unorm2_normalize(nfc, source->data(), sourceLength, result.data(),
                                  static_cast<int32_t>(result.size()), &status);
    }
    if (U_FAILURE(status)) return std::nullopt;
    result.resize(static_cast<std::size_t>(length));
    return toUtf8(result);
}

} // namespace tarvel_focus::linux_platform
