#pragma once
#include <memory>

#include "OpenFallback.h"
#include "RunningApplications.h"

// This platform's implementations, provided by the platform folder chosen at build time. Creating them
// is cheap: each reaches the system only when first used.
namespace tarvel_focus::platform {

std::unique_ptr<RunningApplications> makeRunningApplications();
std::unique_ptr<Normalizer> makeNormalizer();
std::unique_ptr<ApplicationOpener> makeApplicationOpener();

} // namespace tarvel_focus::platform
