#include "Focus.h"

#include "FindTarget.h"

namespace tarvel_focus {

ExitStatus run(const Options& options, RunningApplications& applications, const Normalizer& normalizer,
               ApplicationOpener& opener, std::chrono::milliseconds openTimeout) {
    if (const auto target = findTarget(applications, normalizer, options.name, options.bundleId)) {
        // A refused request fails; whether the window manager then obeys is not ours to know.
        return applications.activateAllWindows(*target) ? ExitStatus::success : ExitStatus::failure;
    }
    return openFallback(opener, options.fallback, openTimeout) ? ExitStatus::success : ExitStatus::failure;
}

} // namespace tarvel_focus
