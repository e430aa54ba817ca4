#include "Karabiner/KarabinerConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <system_error>

#include "Karabiner/KarabinerEdit.h"
#include "Platform/FileIO.h"

namespace tarvel {

namespace fs = std::filesystem;
using jsonc::Span;

namespace {

KarabinerWriterError::Kind kindOf(jsonc::Problem::Kind kind) {
    using Kind = KarabinerWriterError::Kind;
    switch (kind) {
    case jsonc::Problem::Kind::trailingComma: return Kind::trailingComma;
    case jsonc::Problem::Kind::numberOutOfRange: return Kind::numberOutOfRange;
    case jsonc::Problem::Kind::tooDeep: return Kind::tooDeep;
    case jsonc::Problem::Kind::syntax: break;
    }
    return Kind::syntax;
}

// One value of checked text (comments allowed), decoded.
Json parseSpan(std::string_view text, Span span) {
    return Json::parse(span.of(text), nullptr, true, true);
}

// "2025-03-14T09:15:02+09:00"
std::string localISOTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[40];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    std::string iso(text, length);
    if (iso.size() >= 5 && (iso[iso.size() - 5] == '+' || iso[iso.size() - 5] == '-')) iso.insert(iso.size() - 2, ":");
    return iso;
}

// Newest first: by the time in the name, then by the number after it.
std::pair<std::string, unsigned long> backupOrder(const std::string& name) {
    const std::string stamp = name.substr(KarabinerWriter::backupPrefix.size(), 15);
    const std::size_t rest = KarabinerWriter::backupPrefix.size() + 15;
    unsigned long counter = 1;
    if (name[rest] == '-') counter = std::stoul(name.substr(rest + 1, name.size() - 5 - rest - 1));
    return {stamp, counter};
}

Json ruleSummaries(const KarabinerConfigText& config) {
    const std::string_view text = config.text();
    Json rules = Json::array();
    for (const Span& rule : config.rules(config.selected)) {
        Json summary = {{"description", nullptr}, {"enabled", true}, {"manipulators", 0}};
        if (text[rule.begin] == '{') {
            const auto members = jsonc::members(text, rule.begin);
            auto description = jsonc::lastMember(text, members, "description");
            if (description && text[description->value.begin] == '"') summary["description"] = jsonc::decodeString(description->value.of(text));
            if (auto enabled = jsonc::lastMember(text, members, "enabled")) summary["enabled"] = enabled->value.of(text) != "false";
            auto manipulators = jsonc::lastMember(text, members, "manipulators");
            if (manipulators && text[manipulators->value.begin] == '[')
                summary["manipulators"] = jsonc::elements(text, manipulators->value.begin).size();
        }
        rules.push_back(std::move(summary));
    }
    return rules;
}

} // namespace

KarabinerConfigText::Complex KarabinerConfigText::complexModifications(std::size_t profile) const {
    Complex complex;
    complex.member = jsonc::lastMember(text(), profileMembers.at(profile), "complex_modifications");
    if (!complex.member || bytes[complex.member->value.begin] != '{') return complex;
    complex.members = jsonc::members(text(), complex.member->value.begin, &facts);
    complex.rules = jsonc::lastMember(text(), complex.members, "rules");
    if (complex.rules && bytes[complex.rules->value.begin] == '[')
        complex.ruleElements = jsonc::elements(text(), complex.rules->value.begin, &facts);
    return complex;
}

Result<KarabinerConfigText, KarabinerWriterError> examineConfiguration(std::string bytes) {
    auto facts = jsonc::scan(bytes, KarabinerWriter::maxNesting);
    if (!facts) {
        const auto& problem = facts.error();
        return unexpected(KarabinerWriterError::inText(kindOf(problem.kind), problem.what, problem.line, problem.column));
    }
    KarabinerConfigText config;
    config.bytes = std::move(bytes);
    config.facts = std::move(*facts);
    const std::string_view text = config.text();
    if (text[config.facts.top.begin] != '{') return unexpected(KarabinerWriterError::of(KarabinerWriterError::Kind::notAnObject));

    config.rootMembers = jsonc::members(text, config.facts.top.begin, &config.facts);
    auto profiles = jsonc::lastMember(text, config.rootMembers, "profiles");
    const auto noProfiles = [] { return unexpected(KarabinerWriterError::of(KarabinerWriterError::Kind::noProfiles)); };
    if (!profiles || text[profiles->value.begin] != '[') return noProfiles();
    config.profilesValue = profiles->value;
    config.profiles = jsonc::elements(text, profiles->value.begin, &config.facts);
    const auto isObject = [&](const Span& profile) { return text[profile.begin] == '{'; };
    if (config.profiles.empty() || !std::all_of(config.profiles.begin(), config.profiles.end(), isObject)) return noProfiles();
    bool found = false;
    for (std::size_t i = 0; i < config.profiles.size(); ++i) {
        config.profileMembers.push_back(jsonc::members(text, config.profiles[i].begin, &config.facts));
        auto selected = jsonc::lastMember(text, config.profileMembers.back(), "selected");
        if (!found && selected && selected->value.of(text) == "true") {
            config.selected = i;
            found = true;
        }
    }
    return config;
}

Result<KarabinerConfigView, KarabinerApplyError> KarabinerConfigReader::read(const fs::path& configURL, FileManager& fileManager) {
    using Failure = KarabinerApplyError;
    if (!fileManager.fileExists(configURL)) return unexpected(Failure(KarabinerWriterError::configNotFound(configURL)));
    auto content = fileManager.readFile(configURL);
    if (!content) return unexpected(Failure(content.error()));

    KarabinerConfigView view;
    view.path = configURL;
    view.digest = KarabinerWriter::digest(content->bytes);
    auto config = examineConfiguration(std::move(content->bytes));
    if (!config) return unexpected(Failure(config.error()));
    const std::string_view text = config->text();
    view.hasComments = config->facts.hasComments;

    try {
        for (std::size_t i = 0; i < config->profiles.size(); ++i) {
            const auto& members = config->profileMembers[i];
            KarabinerProfileView profile;
            profile.selected = i == config->selected;
            if (auto name = jsonc::lastMember(text, members, "name"); name && text[name->value.begin] == '"')
                profile.name = jsonc::decodeString(name->value.of(text));
            const auto complex = config->complexModifications(i);
            for (const Span& rule : complex.ruleElements) profile.rules.push_back(parseSpan(text, rule));
            if (complex.rules && text[complex.rules->value.begin] == '[')
                profile.commentedRules = edit::commentedItems(text, complex.rules->value, complex.ruleElements);
            if (auto devices = jsonc::lastMember(text, members, "devices"); devices && text[devices->value.begin] == '[') {
                for (const Span& device : jsonc::elements(text, devices->value.begin)) {
                    if (text[device.begin] != '{') continue;
                    profile.deviceSettings.push_back(parseSpan(text, device));
                    auto identifiers = jsonc::lastMember(text, device.begin, "identifiers");
                    if (identifiers && text[identifiers->value.begin] == '{')
                        profile.devices.push_back(parseSpan(text, identifiers->value));
                }
            }
            const auto valueOf = [&](const std::vector<jsonc::Member>& in, std::string_view name, char open) -> std::optional<Json> {
                auto member = jsonc::lastMember(text, in, name);
                if (!member || text[member->value.begin] != open) return std::nullopt;
                return parseSpan(text, member->value);
            };
            if (auto value = valueOf(members, "simple_modifications", '[')) profile.simpleModifications = std::move(*value);
            if (auto value = valueOf(members, "fn_function_keys", '[')) profile.fnFunctionKeys = std::move(*value);
            if (auto value = valueOf(complex.members, "parameters", '{')) profile.parameters = std::move(*value);
            if (auto keyboard = valueOf(members, "virtual_hid_keyboard", '{'); keyboard && (*keyboard)["keyboard_type_v2"].is_string())
                profile.keyboardType = (*keyboard)["keyboard_type_v2"];
            view.profiles.push_back(std::move(profile));
        }
    } catch (const Json::exception& e) {
        // The scanner accepts what the reader accepts; this would be a disagreement between them.
        return unexpected(Failure(KarabinerWriterError::of(KarabinerWriterError::Kind::syntax, e.what())));
    }
    view.backups = backups(configURL);
    return view;
}

std::vector<KarabinerBackupView> KarabinerConfigReader::backups(const fs::path& configURL) {
    const fs::path folder = configURL.parent_path();
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (KarabinerWriter::isBackupName(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return backupOrder(a) > backupOrder(b); });
    if (names.size() > maxBackups) names.resize(maxBackups);

    std::vector<KarabinerBackupView> views;
    std::uintmax_t budget = backupReadingBudget;
    for (const auto& name : names) {
        KarabinerBackupView view;
        view.name = name;
        view.path = folder / name;
        struct stat st {};
        if (::lstat(view.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            view.error = "not a regular file";
            views.push_back(std::move(view));
            continue;
        }
        view.size = static_cast<std::uintmax_t>(st.st_size);
        view.modified = localISOTime(st.st_mtime);
        if (view.size > budget) {
            view.error = "not read: the newer backups already took the time Tarvel gives to reading them";
        } else if (auto content = readFileContent(view.path, {.followLinks = false}); !content) {
            // Also a link put in the backup's place since it was looked at: never read through.
            view.error = content.error().localizedDescription();
        } else {
            view.size = static_cast<std::uintmax_t>(content->identity.size);
            view.modified = localISOTime(static_cast<std::time_t>(content->identity.modifiedSeconds));
            budget -= std::min(budget, view.size);
            auto config = examineConfiguration(std::move(content->bytes));
            if (config) view.rules = ruleSummaries(*config);
            else view.error = config.error().errorDescription();
        }
        views.push_back(std::move(view));
    }
    return views;
}

} // namespace tarvel
