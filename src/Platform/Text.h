#pragma once
#include <string>
#include <string_view>

namespace tarvel {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view bytes) noexcept;

// "%XX" sequences replaced by their bytes; a "%" not followed by two hexadecimal digits stays.
std::string percentDecoded(std::string_view text);

} // namespace tarvel
