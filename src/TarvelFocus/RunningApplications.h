#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvel_focus {

// How an application presents itself: only regular ones (in the Dock, in the task bar) can be focused.
enum class ActivationPolicy { regular, accessory, prohibited };

// One running application as the platform sees it. Accessors may be computed on first use, so a
// search that stops early never pays for the applications after the one it found.
class RunningApplication {
public:
    virtual ~RunningApplication() = default;
    virtual ActivationPolicy activationPolicy() const = 0;
    virtual std::optional<std::string> localizedName() const = 0;
    virtual std::optional<std::string> bundleIdentifier() const = 0;
};

// The platform's list of running applications and the one request made to them.
class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    // In the platform's own order.
    virtual std::vector<std::shared_ptr<RunningApplication>> list() = 0;
    // Asks for every window of the application to come to the front. False when the platform refused
    // the request or could not be asked; whether the window manager then obeys is not awaited.
    virtual bool activateAllWindows(RunningApplication& application) = 0;
};

// Puts text into Unicode canonical composed form (NFC), or nothing when the bytes are not valid UTF-8.
class Normalizer {
public:
    virtual ~Normalizer() = default;
    virtual std::optional<std::string> composed(const std::string& text) const = 0;
};

} // namespace tarvel_focus
