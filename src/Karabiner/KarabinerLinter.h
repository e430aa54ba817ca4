#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Karabiner/KarabinerWriter.h"
#include "Platform/FileManager.h"
#include "Platform/Json.h"

namespace tarvel {

// How a linter run is bounded; the defaults are the product's.
struct LintRunLimits {
    std::chrono::milliseconds timeLimit{30'000};
    // Set from another thread when the answer is no longer wanted (the application is closing).
    const std::atomic<bool>* stopRequested = nullptr;
};

// Has Karabiner-Elements' own command-line tool check a rule set. Never instantiated.
struct KarabinerLinter {
    static constexpr std::string_view lintFilePrefix = "tarvel-lint-";
    // A tool that does not answer in time refuses the rule set; what it started is ended with it.
    static constexpr std::chrono::milliseconds timeLimit = LintRunLimits{}.timeLimit;
    // The most of each of its streams that is kept: its text goes to the page as the error.
    static constexpr std::size_t maxStreamBytes = 64 * 1024;

    // None: the rule set may be written (also when there is no tool at the path). A text: why not,
    // which includes a tool that is there but cannot be run.
    static std::optional<std::string> lint(std::string_view title, const std::vector<TarvelRule>& rules,
                                           const std::filesystem::path& cliPath,
                                           FileManager& fileManager = FileManager::defaultManager(),
                                           const LintRunLimits& limits = {});
    // The rule set of one rule titled `title`.
    static std::optional<std::string> lint(std::string_view title, const Json& manipulators,
                                           const std::filesystem::path& cliPath,
                                           FileManager& fileManager = FileManager::defaultManager(),
                                           const LintRunLimits& limits = {}) {
        return lint(title, {TarvelRule{std::string(title), true, manipulators}}, cliPath, fileManager, limits);
    }

    // A complex-modifications document ({"title", "rules"}) as it is.
    static std::optional<std::string> lintComplexModifications(const Json& document, const std::filesystem::path& cliPath,
                                                               FileManager& fileManager = FileManager::defaultManager(),
                                                               const LintRunLimits& limits = {});

    // The complex-modifications document the tool reads: every rule that will be written, as it
    // will be written but without the marker.
    static Json lintDocument(std::string_view title, const std::vector<TarvelRule>& rules);
    static Json lintDocument(std::string_view title, const Json& manipulators) {
        return lintDocument(title, {TarvelRule{std::string(title), true, manipulators}});
    }
};

} // namespace tarvel
