#include "Platform.h"

#include "FoundationNormalizer.h"
#include "WorkspaceOpener.h"
#include "WorkspaceRunningApplications.h"

namespace tarvel_focus::platform {

std::unique_ptr<RunningApplications> makeRunningApplications() {
    return std::make_unique<mac_platform::WorkspaceRunningApplications>();
}

std::unique_ptr<Normalizer> makeNormalizer() { return std::make_unique<mac_platform::FoundationNormalizer>(); }

std::unique_ptr<ApplicationOpener> makeApplicationOpener() { return std::make_unique<mac_platform::WorkspaceOpener>(); }

} // namespace tarvel_focus::platform
