#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "Platform/Error.h"
#include "Platform/FileManager.h"
#include "Platform/Json.h"
#include "Platform/Result.h"

namespace tarvel {

// One rule of Tarvel's rule set. The description is what the linter sees; the writer puts the
// marker before it.
struct TarvelRule {
    std::string description;
    bool enabled = true;
    Json manipulators = Json::array();  // objects
};

// One rule of a profile's final rule list: a rule of the profile as read (`index`), kept byte for
// byte, or with new content (`rule`) in place of its members that differ; or a new rule.
struct RuleListEntry {
    std::optional<std::size_t> index;
    std::optional<Json> rule;
};

// A value of the profile that the apply replaces; only its bytes change.
struct ProfileValue {
    enum class Kind { simpleModifications, fnFunctionKeys, parameters, deviceSimpleModifications, deviceFnFunctionKeys };
    Kind kind = Kind::simpleModifications;
    std::size_t device = 0;  // for the device kinds: the index in the profile's "devices"
    Json value;
};

struct KarabinerApplyRequest {
    std::vector<TarvelRule> rules;  // a rule without manipulators is not written
    // "sha256:<hex>" of the bytes the page read; the apply is refused when the file differs.
    std::optional<std::string> baseDigest;
    // Indices of the profile's current rules that stay, in their order after Tarvel's; their bytes
    // are copied unchanged.
    std::vector<std::size_t> keep;
    std::optional<std::size_t> profile;  // default: the one Karabiner-Elements uses
    // The profile's rules after the apply, in order; when set, `rules` and `keep` are not looked at
    // and descriptions are written as given (no marker). A list that keeps every rule in its
    // place changes nothing.
    std::optional<std::vector<RuleListEntry>> ruleList;
    std::vector<ProfileValue> values;
};

struct KarabinerApplyResult {
    std::filesystem::path backupURL;
};

class KarabinerWriterError {
public:
    enum class Kind {
        configNotFound, backupFailed, writeFailed, notAnObject, noProfiles, syntax, trailingComma, numberOutOfRange,
        tooDeep, readOnly, changed, busy, noSuchProfile, noSuchRule, noSuchBackup, noSuchDevice,
    };

    static KarabinerWriterError configNotFound(std::filesystem::path configURL);
    static KarabinerWriterError backupFailed(Error underlying);
    static KarabinerWriterError writeFailed(Error underlying);
    static KarabinerWriterError of(Kind kind, std::string detail = {});
    // A problem in the text, at a line and column.
    static KarabinerWriterError inText(Kind kind, std::string what, std::size_t line, std::size_t column);

    Kind kind() const noexcept { return kind_; }
    // The text the user reads.
    std::string errorDescription() const;
    // A stable name for the page, which explains it in the user's language.
    std::string_view code() const noexcept;
    std::optional<std::pair<std::size_t, std::size_t>> position() const noexcept { return position_; }

private:
    KarabinerWriterError(Kind kind, std::string detail, Error underlying = {})
        : kind_(kind), detail_(std::move(detail)), underlying_(std::move(underlying)) {}

    Kind kind_;
    std::string detail_;  // a path, a name or the parser's words
    Error underlying_;
    std::optional<std::pair<std::size_t, std::size_t>> position_;
};

// The writer fails with its own error, or passes the platform's read error on unchanged.
using KarabinerApplyError = std::variant<KarabinerWriterError, Error>;
std::string localizedDescription(const KarabinerApplyError& error);
// The page's code for an error, when it has one ("notRegularFile", "tooLarge" for read errors).
std::optional<std::string> errorCode(const KarabinerApplyError& error);
std::optional<std::pair<std::size_t, std::size_t>> errorPosition(const KarabinerApplyError& error);

// Installs Tarvel's rules into karabiner.json by replacing only the text of one profile's
// "rules" value; every other byte of the file stays. Applies and restores from any number of
// processes are serialized by a lock on the configuration's folder. Never instantiated.
struct KarabinerWriter {
    static constexpr std::string_view ruleTitleMarker = "[Tarvel] ";
    static constexpr std::string_view backupPrefix = "karabiner.backup-";
    static constexpr std::size_t maxNesting = 256;

    static Result<KarabinerApplyResult, KarabinerApplyError> apply(const KarabinerApplyRequest& request,
                                                                   const std::filesystem::path& configURL,
                                                                   FileManager& fileManager);

    // One rule titled `title` holding `manipulators` (none when it is empty) in place of every
    // rule of the profile Karabiner-Elements uses.
    static Result<KarabinerApplyResult, KarabinerApplyError> apply(std::string_view title, const Json& manipulators,
                                                                   const std::filesystem::path& configURL,
                                                                   FileManager& fileManager);

    // Puts back the bytes of the backup `name` (a backup's file name beside karabiner.json), after
    // backing up the current file. The result names that new backup.
    static Result<KarabinerApplyResult, KarabinerApplyError> restore(std::string_view name,
                                                                     const std::optional<std::string>& baseDigest,
                                                                     const std::filesystem::path& configURL,
                                                                     FileManager& fileManager);

    // A second name for the configuration, "karabiner.backup-yyyyMMdd-HHmmss.json" beside it (then
    // "-2", "-3", ... within one second); never replaces a file, and a name always holds a
    // complete copy. A configuration gone meanwhile is "changed".
    static Result<std::filesystem::path, KarabinerWriterError> backup(const std::filesystem::path& configURL,
                                                                      FileManager& fileManager);

    // "<title>", or "<title>: <name>" for one rule of several: what the linter sees. The file gets
    // the marker before it.
    static std::string ruleDescription(std::string_view title, std::optional<std::string_view> name = std::nullopt);
    // True for a backup's file name as the writer makes it.
    static bool isBackupName(std::string_view name);
    // "sha256:<hex>" of the bytes.
    static std::string digest(std::string_view bytes);
    // True for "sha256:" and 64 lower-case hexadecimal digits.
    static bool isDigest(std::string_view text);
};

} // namespace tarvel
