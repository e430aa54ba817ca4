#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "Platform/Error.h"
#include "Platform/FileManager.h"
#include "Platform/Json.h"
#include "Platform/Result.h"

namespace tarvel {

struct KarabinerApplyResult {
    std::filesystem::path backupURL;
};

class KarabinerWriterError {
public:
    enum class Kind { configNotFound, backupFailed, writeFailed, invalidJSON, noProfiles };

    static KarabinerWriterError configNotFound(std::filesystem::path configURL);
    static KarabinerWriterError backupFailed(Error underlying);
    static KarabinerWriterError writeFailed(Error underlying);
    static KarabinerWriterError invalidJSON();
    static KarabinerWriterError noProfiles();

    Kind kind() const noexcept { return kind_; }
    // The text the user reads.
    std::string errorDescription() const;

private:
    KarabinerWriterError(Kind kind, std::filesystem::path configURL, Error underlying)
        : kind_(kind), configURL_(std::move(configURL)), underlying_(std::move(underlying)) {}

    Kind kind_;
    std::filesystem::path configURL_;
    Error underlying_;
};

// The writer fails with its own error, or passes the platform's read or parse error on unchanged.
using KarabinerApplyError = std::variant<KarabinerWriterError, Error>;
std::string localizedDescription(const KarabinerApplyError& error);

// Installs one rule set into karabiner.json. Never instantiated.
struct KarabinerWriter {
    static constexpr std::string_view ruleTitleMarker = "[Tarvel] ";
    static constexpr std::string_view backupPrefix = "karabiner.backup-";

    // Replaces the complex-modification rules of the selected profile with one rule holding
    // `manipulators` (none when it is empty), after copying the file to a time-stamped backup.
    static Result<KarabinerApplyResult, KarabinerApplyError> apply(std::string_view title, const Json& manipulators,
                                                                   const std::filesystem::path& configURL,
                                                                   FileManager& fileManager);

    // Copies the configuration to "karabiner.backup-yyyyMMdd-HHmmss.json" beside it.
    static Result<std::filesystem::path, KarabinerWriterError> backup(const std::filesystem::path& configURL,
                                                                      FileManager& fileManager);
};

} // namespace tarvel
