#pragma once
#include <filesystem>

namespace tarvel {

// The current user's home folder: $HOME, else the password database's entry.
std::filesystem::path currentHomeDirectory();

} // namespace tarvel
