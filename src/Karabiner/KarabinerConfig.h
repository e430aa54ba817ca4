#pragma once
// karabiner.json as Tarvel reads it: checked whole first, then seen as byte spans (for the writer)
// or as values (for the page).
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Karabiner/JsoncScanner.h"
#include "Karabiner/KarabinerWriter.h"
#include "Platform/Json.h"
#include "Platform/Result.h"

namespace tarvel {

// The checked text: an object at the top with a non-empty "profiles" array of objects. Where a
// name repeats in an object, the last member counts, as in Karabiner-Elements.
struct KarabinerConfigText {
    std::string bytes;
    jsonc::Facts facts;
    std::vector<jsonc::Member> rootMembers;
    jsonc::Span profilesValue;
    std::vector<jsonc::Span> profiles;
    std::vector<std::vector<jsonc::Member>> profileMembers;
    std::size_t selected = 0;  // the first profile whose "selected" is true, else the first

    // A profile's complex modifications, found in one pass over them.
    struct Complex {
        std::optional<jsonc::Member> member;  // "complex_modifications", of any type
        std::vector<jsonc::Member> members;   // when it is an object
        std::optional<jsonc::Member> rules;   // "rules" in that object, of any type
        std::vector<jsonc::Span> ruleElements;  // when "rules" is an array
    };

    std::string_view text() const { return bytes; }
    Complex complexModifications(std::size_t profile) const;
    std::vector<jsonc::Span> rules(std::size_t profile) const { return complexModifications(profile).ruleElements; }
};

// Checks the text as Karabiner-Elements would read it, then finds the profiles.
Result<KarabinerConfigText, KarabinerWriterError> examineConfiguration(std::string bytes);

// What the page shows of the configuration.
struct KarabinerProfileView {
    Json name;  // a string, or null
    bool selected = false;
    Json rules = Json::array();    // the rule objects as they are
    // The indices of the rules with comments around them (docs/BRIDGE.md, "Comments around rules").
    std::vector<std::size_t> commentedRules;
    Json devices = Json::array();  // each device's "identifiers" object
    // The rest of the profile that shapes what a key does, as the file has it.
    Json simpleModifications = Json::array();
    Json fnFunctionKeys = Json::array();
    Json parameters = Json::object();      // complex_modifications.parameters
    Json deviceSettings = Json::array();   // the device objects whole
    Json keyboardType;                     // virtual_hid_keyboard.keyboard_type_v2, or null
};

struct KarabinerBackupView {
    std::string name;
    std::filesystem::path path;
    std::string modified;  // local time, ISO 8601 with its offset
    std::uintmax_t size = 0;
    // Each rule of the profile that would come back: {"description", "enabled", "manipulators": count}.
    std::optional<Json> rules;
    std::optional<std::string> error;
};

struct KarabinerConfigView {
    std::filesystem::path path;
    std::string digest;
    bool hasComments = false;
    std::vector<KarabinerProfileView> profiles;
    std::vector<KarabinerBackupView> backups;
};

struct KarabinerConfigReader {
    static constexpr std::size_t maxBackups = 50;
    // Backups are summarized until this many bytes were read; older ones are listed without rules.
    static constexpr std::uintmax_t backupReadingBudget = 128 * 1024 * 1024;

    static Result<KarabinerConfigView, KarabinerApplyError> read(const std::filesystem::path& configURL,
                                                                FileManager& fileManager);
    // Newest first.
    static std::vector<KarabinerBackupView> backups(const std::filesystem::path& configURL);
};

} // namespace tarvel
