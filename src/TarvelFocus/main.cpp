// tarvel-focus: brings a running application to the front, or opens one. Prints nothing, reads
// nothing; the exit status is the whole answer.
#include "Focus.h"
#include "Platform.h"
#include "Watchdog.h"

namespace {

// The parsed command line, for the life of the process.
tarvel_focus::Options opts;

// Opening the fallback has a limit of its own: when it starts, the watchdog allows for it.
class WatchedOpener final : public tarvel_focus::ApplicationOpener {
public:
    WatchedOpener(tarvel_focus::ApplicationOpener& opener, tarvel_focus::Watchdog& watchdog)
        : opener_(opener), watchdog_(watchdog) {}
    void openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) override {
        watchdog_.extend(tarvel_focus::kOpenTimeout + std::chrono::seconds(1));
        opener_.openApplication(absolutePath, std::move(completion));
    }

private:
    tarvel_focus::ApplicationOpener& opener_;
    tarvel_focus::Watchdog& watchdog_;
};

} // namespace

int main(int argc, char** argv) {
    tarvel_focus::Watchdog watchdog(tarvel_focus::kSearchTimeout, static_cast<int>(tarvel_focus::ExitStatus::failure));
    opts = tarvel_focus::parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));

    using namespace tarvel_focus::platform;
    const auto applications = makeRunningApplications();
    const auto normalizer = makeNormalizer();
    const auto opener = makeApplicationOpener();
    WatchedOpener watched(*opener, watchdog);
    return static_cast<int>(tarvel_focus::run(opts, *applications, *normalizer, watched));
}
