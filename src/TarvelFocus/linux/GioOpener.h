#pragma once
#include "OpenFallback.h"

namespace tarvel_focus::linux_platform {

// Opens an application through GIO's launcher: a desktop entry file is launched as its entry says, an
// executable file is run as a program. Anything else is not an application and fails. The launch runs
// on a thread of its own so that the caller's wait can time out.
class GioOpener final : public ApplicationOpener {
public:
    void openApplication(const std::string& absolutePath, std::function<void(bool opened)> completion) override;

    // The launch itself, on the calling thread: true when GIO reports that it started the application.
    static bool launch(const std::string& absolutePath);
};

} // namespace tarvel_focus::linux_platform
