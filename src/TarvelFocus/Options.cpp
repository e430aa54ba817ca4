#include "Options.h"

namespace tarvel_focus {

namespace {

std::optional<std::string> Options::*fieldFor(const std::string& word) {
    if (word == "--name") return &Options::name;
    if (word == "--bundle-id") return &Options::bundleId;
    if (word == "--fallback") return &Options::fallback;
    return nullptr;
}

} // namespace

Options parse(const std::vector<std::string>& arguments) {
    Options options;
    std::size_t i = 0;
    while (i < arguments.size()) {
        const auto field = fieldFor(arguments[i]);
        if (!field) {
            ++i;
            continue;
        }
        // The next word is the value whatever it looks like, so `--name --fallback` names "--fallback".
        options.*field = i + 1 < arguments.size() ? std::optional(arguments[i + 1]) : std::nullopt;
        i += 2;
    }
    return options;
}

} // namespace tarvel_focus
