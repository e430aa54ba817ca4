#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/FileManager.h"
#include "Platform/Json.h"

namespace tarvel {

// Has Karabiner-Elements' own command-line tool check a rule set. Never instantiated.
struct KarabinerLinter {
    static constexpr std::string_view lintFilePrefix = "tarvel-lint-";

    // None: the rule set may be written (also when the tool is missing). A text: why not.
    static std::optional<std::string> lint(std::string_view title, const Json& manipulators,
                                           const std::filesystem::path& cliPath,
                                           FileManager& fileManager = FileManager::defaultManager());

    // The complex-modifications document the tool reads.
    static Json lintDocument(std::string_view title, const Json& manipulators);
};

} // namespace tarvel
