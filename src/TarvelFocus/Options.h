#pragma once
#include <optional>
#include <string>
#include <vector>

namespace tarvel_focus {

// What the command line asked for. Absent and empty are different: each operation decides what an
// empty value means.
struct Options {
    std::optional<std::string> name;     // "--name": the application's displayed name
    std::optional<std::string> bundleId; // "--bundle-id": its identifier
    std::optional<std::string> fallback; // "--fallback": path of an application to open instead

    bool operator==(const Options&) const = default;
};

// Reads the arguments that follow the program name. Never fails: unknown words are skipped, the last
// occurrence of an option wins, and an option word with nothing after it clears that option.
Options parse(const std::vector<std::string>& arguments);

} // namespace tarvel_focus
