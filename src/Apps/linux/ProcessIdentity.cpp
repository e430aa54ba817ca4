#include "Apps/linux/ProcessIdentity.h"

#include <gio/gio.h>

#include <system_error>

namespace tarvel {

std::optional<std::string> ProcessIdentity::bundleIdentifier() const {
    if (GApplication* application = g_application_get_default()) {
        if (const char* id = g_application_get_application_id(application); id && *id) return id;
    }
    return TARVEL_APP_ID;
}

std::optional<std::filesystem::path> ProcessIdentity::executablePath() const {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || path.empty()) return std::nullopt;
    return path;
}

} // namespace tarvel
