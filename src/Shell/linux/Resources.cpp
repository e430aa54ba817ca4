#include "Shell/linux/Resources.h"

#include <libintl.h>

#include <clocale>
#include <system_error>

namespace tarvel {

std::filesystem::path Resources::executableDirectory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::filesystem::current_path(error);
    return executable.parent_path();
}

std::filesystem::path Resources::applicationDirectory() {
    return (executableDirectory() / ".." / "share" / "tarvel").lexically_normal();
}

std::filesystem::path Resources::localeDirectory() {
    return (executableDirectory() / ".." / "share" / "locale").lexically_normal();
}

void Resources::setUpLocalization() {
    std::setlocale(LC_ALL, "");
    bindtextdomain(textDomain, localeDirectory().c_str());
    bind_textdomain_codeset(textDomain, "UTF-8");
}

const char* tr(const char* messageId) { return dgettext(Resources::textDomain, messageId); }

} // namespace tarvel
