#include "Focus.h"

#include "FindTarget.h"

namespace tarvel_focus {

ExitStatus run(const Options& options, RunningApplications& applications, const Normalizer& normalizer,
               ApplicationOpener& opener, std::chrono::milliseconds openTimeout) {
    if (const auto target = findTarget(applications, normalizer, options.name, options.bundleId)) {
        // Whether the window manager obeys is not ours to know.
        applications.activateAllWindows(*target);
        return ExitStatus::success;
    }
    return openFallback(opener, options.fallback, openTimeout) ? ExitStatus::success : ExitStatus::failure;
}

} // namespace tarvel_focus
