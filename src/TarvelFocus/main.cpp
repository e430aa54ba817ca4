// tarvel-focus: brings a running application to the front, or opens one. Prints nothing, reads
// nothing; the exit status is the whole answer.
#include "Focus.h"
#include "Platform.h"

namespace {

// The parsed command line, for the life of the process.
tarvel_focus::Options opts;

} // namespace

int main(int argc, char** argv) {
    opts = tarvel_focus::parse(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));

    using namespace tarvel_focus::platform;
    const auto applications = makeRunningApplications();
    const auto normalizer = makeNormalizer();
    const auto opener = makeApplicationOpener();
    return static_cast<int>(tarvel_focus::run(opts, *applications, *normalizer, *opener));
}
