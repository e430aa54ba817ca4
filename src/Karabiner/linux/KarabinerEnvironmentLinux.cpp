#include <gio/gdesktopappinfo.h>

#include <string>

#include "Karabiner/KarabinerEnvironment.h"

namespace tarvel {

// Linux stands in a desktop entry with the settings application's identifier, looked up on the
// XDG data path the way the desktop looks up applications.
bool KarabinerEnvironment::isInstalled() {
    const std::string id = std::string(settingsBundleIdentifier) + ".desktop";
    GDesktopAppInfo* info = g_desktop_app_info_new(id.c_str());
    if (!info) return false;
    g_object_unref(info);
    return true;
}

} // namespace tarvel
