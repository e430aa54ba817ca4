#pragma once
#include <string>

namespace tarvel {

// A new random (version 4) UUID in its canonical 36-character form, hexadecimal digits upper case.
std::string randomUUIDString();

} // namespace tarvel
