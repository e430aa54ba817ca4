#pragma once
#include "OpenFallback.h"
#include "Options.h"
#include "RunningApplications.h"

namespace tarvel_focus {

// The command's only report.
enum class ExitStatus : int { success = 0, failure = 1 };

// The whole command: focus the running application the options describe, or open the fallback.
ExitStatus run(const Options& options, RunningApplications& applications, const Normalizer& normalizer,
               ApplicationOpener& opener, std::chrono::milliseconds openTimeout = kOpenTimeout);

} // namespace tarvel_focus
