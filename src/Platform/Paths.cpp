#include "Platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace tarvel {

std::filesystem::path currentHomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

} // namespace tarvel
