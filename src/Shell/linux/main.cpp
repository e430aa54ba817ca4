#include <csignal>

#include "Shell/linux/TarvelApp.h"

int main(int argc, char** argv) {
    // A launcher that ignores SIGCHLD hands that on; the linter and the Shortcuts tool need the
    // exit status of what they run.
    std::signal(SIGCHLD, SIG_DFL);
    return tarvel::TarvelApp::run(argc, argv);
}
