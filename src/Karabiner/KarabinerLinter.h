#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Karabiner/KarabinerWriter.h"
#include "Platform/FileManager.h"
#include "Platform/Json.h"

namespace tarvel {

// Has Karabiner-Elements' own command-line tool check a rule set. Never instantiated.
struct KarabinerLinter {
    static constexpr std::string_view lintFilePrefix = "tarvel-lint-";

    // None: the rule set may be written (also when the tool is missing). A text: why not.
    static std::optional<std::string> lint(std::string_view title, const std::vector<TarvelRule>& rules,
                                           const std::filesystem::path& cliPath,
                                           FileManager& fileManager = FileManager::defaultManager());
    // The rule set of one rule titled `title`.
    static std::optional<std::string> lint(std::string_view title, const Json& manipulators,
                                           const std::filesystem::path& cliPath,
                                           FileManager& fileManager = FileManager::defaultManager()) {
        return lint(title, {TarvelRule{std::string(title), true, manipulators}}, cliPath, fileManager);
    }

    // The complex-modifications document the tool reads: every rule that will be written, as it
    // will be written but without the marker.
    static Json lintDocument(std::string_view title, const std::vector<TarvelRule>& rules);
    static Json lintDocument(std::string_view title, const Json& manipulators) {
        return lintDocument(title, {TarvelRule{std::string(title), true, manipulators}});
    }
};

} // namespace tarvel
