#include "Platform.h"

#include "DesktopEntries.h"
#include "GioOpener.h"
#include "IcuNormalizer.h"
#include "X11RunningApplications.h"

#include <glib.h>

namespace tarvel_focus::platform {

namespace {

// The command prints nothing, not even a library's warning.
GLogWriterOutput dropLogMessage(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }

void silenceLibraries() {
    static const bool silenced = [] {
        g_log_set_writer_func(dropLogMessage, nullptr, nullptr);
        return true;
    }();
    (void)silenced;
}

} // namespace

std::unique_ptr<RunningApplications> makeRunningApplications() {
    silenceLibraries();
    return std::make_unique<linux_platform::X11RunningApplications>(
        linux_platform::DesktopEntries(linux_platform::DesktopEntries::xdgApplicationFolders()));
}

std::unique_ptr<Normalizer> makeNormalizer() { return std::make_unique<linux_platform::IcuNormalizer>(); }

std::unique_ptr<ApplicationOpener> makeApplicationOpener() {
    silenceLibraries();
    return std::make_unique<linux_platform::GioOpener>();
}

} // namespace tarvel_focus::platform
