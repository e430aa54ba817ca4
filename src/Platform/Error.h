#pragma once
#include <string>

namespace tarvel {

// A platform failure as the user will read it: the text is the error's localized description.
struct Error {
    std::string description;
    int code = 0;  // errno where one applies

    const std::string& localizedDescription() const noexcept { return description; }

    // "what: strerror(errnum)"
    static Error fromErrno(const std::string& what, int errnum);
};

} // namespace tarvel
