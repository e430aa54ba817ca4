#include <csignal>

#import "Shell/mac/TarvelApp.h"

int main() {
    // A launcher that ignores SIGCHLD hands that on; the linter and the Shortcuts tool need the
    // exit status of what they run.
    std::signal(SIGCHLD, SIG_DFL);
    return tarvel::TarvelApp::run();
}
