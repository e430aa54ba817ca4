#pragma once
// One apply on a copy of a configuration, judged three ways: which bytes changed, whether the
// result reads as the document a full rewrite would give, and, for a file that Karabiner-Elements
// wrote, whether it is exactly what Karabiner-Elements would write. Shared by the writer's tests
// and bench/check-configs.
#include <filesystem>
#include <optional>
#include <string>

#include "Karabiner/JsoncScanner.h"
#include "Karabiner/KarabinerFormatter.h"
#include "Karabiner/KarabinerWriter.h"
#include "TestFiles.h"

namespace tarvel::test {

struct ApplyCheck {
    std::string error;                 // empty when the apply succeeded
    std::string changed;               // "rules value", "insertion", or what else changed
    bool outsideUnchanged = false;     // no byte outside the profile's rules value changed
    bool sameAsFullRewrite = false;
    bool karabinerWritten = false;     // the file is exactly what Karabiner-Elements writes (a final line feed allowed)
    bool asKarabinerWrites = false;    // ... and so is the result
    std::string result;
};

inline Json readerView(const std::string& text) { return Json::parse(text, nullptr, true, true); }

// The document the old full rewrite gave: the profile's rules replaced (and the values named),
// everything else as read.
inline Json fullRewrite(const std::string& original, const KarabinerApplyRequest& request) {
    Json document = readerView(original);
    Json& profiles = document["profiles"];
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < profiles.size(); ++i)
        if (profiles[i].contains("selected") && profiles[i]["selected"] == true) {
            chosen = i;
            break;
        }
    if (request.profile) chosen = *request.profile;
    Json& profile = profiles[chosen];
    Json current = profile.contains("complex_modifications") && profile["complex_modifications"].is_object() &&
                           profile["complex_modifications"].contains("rules") && profile["complex_modifications"]["rules"].is_array()
                       ? profile["complex_modifications"]["rules"]
                       : Json::array();
    Json rules = Json::array();
    if (request.ruleList) {
        for (const auto& entry : *request.ruleList) rules.push_back(entry.rule ? *entry.rule : current[*entry.index]);
    } else {
        for (const auto& rule : request.rules) {
            if (rule.manipulators.empty()) continue;
            Json object = {{"description", std::string(KarabinerWriter::ruleTitleMarker) + rule.description}, {"manipulators", rule.manipulators}};
            if (!rule.enabled) object["enabled"] = false;
            rules.push_back(object);
        }
        for (auto index : request.keep) rules.push_back(current[index]);
    }
    auto complex = [&]() -> Json& {
        if (!profile.contains("complex_modifications") || !profile["complex_modifications"].is_object())
            profile["complex_modifications"] = Json::object();
        return profile["complex_modifications"];
    };
    // A list that keeps every rule in its place leaves the profile as it is.
    if (!request.ruleList || rules != current) complex()["rules"] = rules;
    for (const auto& value : request.values) {
        using Kind = ProfileValue::Kind;
        switch (value.kind) {
        case Kind::simpleModifications: profile["simple_modifications"] = value.value; break;
        case Kind::fnFunctionKeys: profile["fn_function_keys"] = value.value; break;
        case Kind::parameters: complex()["parameters"] = value.value; break;
        case Kind::deviceSimpleModifications: profile["devices"][value.device]["simple_modifications"] = value.value; break;
        case Kind::deviceFnFunctionKeys: profile["devices"][value.device]["fn_function_keys"] = value.value; break;
        }
    }
    return document;
}

// The rules value of the profile an apply changes, as byte offsets; nullopt when it has none.
inline std::optional<jsonc::Span> rulesSpan(const std::string& text, std::optional<std::size_t> profile) {
    auto facts = jsonc::scan(text);
    if (!facts || text[facts->top.begin] != '{') return std::nullopt;
    auto profiles = jsonc::lastMember(text, facts->top.begin, "profiles");
    if (!profiles || text[profiles->value.begin] != '[') return std::nullopt;
    auto list = jsonc::elements(text, profiles->value.begin);
    if (list.empty() || (profile && *profile >= list.size())) return std::nullopt;
    std::size_t chosen = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        auto selected = jsonc::lastMember(text, list[i].begin, "selected");
        if (selected && selected->value.of(text) == "true") {
            chosen = i;
            break;
        }
    }
    if (profile) chosen = *profile;
    if (text[list[chosen].begin] != '{') return std::nullopt;
    auto complex = jsonc::lastMember(text, list[chosen].begin, "complex_modifications");
    if (!complex || text[complex->value.begin] != '{') return std::nullopt;
    auto rules = jsonc::lastMember(text, complex->value.begin, "rules");
    if (!rules) return std::nullopt;
    return rules->value;
}

inline ApplyCheck checkApply(const std::string& original, const KarabinerApplyRequest& request, const fs::path& folder) {
    ApplyCheck check;
    fs::remove_all(folder);
    const fs::path config = writeFile(folder / "karabiner.json", original);
    auto outcome = KarabinerWriter::apply(request, config, FileManager::defaultManager());
    if (!outcome) {
        check.error = localizedDescription(outcome.error());
        return check;
    }
    check.result = readFile(config);
    const std::string& result = check.result;

    std::size_t prefix = 0;
    while (prefix < original.size() && prefix < result.size() && original[prefix] == result[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (suffix < original.size() - prefix && suffix < result.size() - prefix &&
           original[original.size() - 1 - suffix] == result[result.size() - 1 - suffix])
        ++suffix;
    const std::size_t changedEnd = original.size() - suffix;
    const auto span = rulesSpan(original, request.profile);
    if (span && prefix >= span->begin && changedEnd <= span->end) {
        check.changed = "rules value";
        check.outsideUnchanged = true;
    } else if (prefix == changedEnd) {
        check.changed = "insertion";
        check.outsideUnchanged = true;
    } else {
        // Line breaks around the value moved: how many of the original's bytes outside it changed.
        std::size_t outside = changedEnd - prefix;
        if (span && prefix < span->end && changedEnd > span->begin)
            outside = (prefix < span->begin ? span->begin - prefix : 0) + (changedEnd > span->end ? changedEnd - span->end : 0);
        check.changed = std::to_string(outside) + " bytes around it re-laid, from line " +
                        std::to_string(jsonc::lineAndColumn(original, prefix).first);
    }

    const Json expected = fullRewrite(original, request);
    check.sameAsFullRewrite = readerView(result) == expected;

    auto asWritten = formatLikeKarabiner(readerView(original));
    const bool finalLineFeed = !original.empty() && original.back() == '\n';
    check.karabinerWritten = asWritten && (*asWritten == original || *asWritten + "\n" == original);
    if (check.karabinerWritten) {
        auto expectedText = formatLikeKarabiner(expected);
        check.asKarabinerWrites = expectedText && *expectedText + (finalLineFeed ? "\n" : "") == result;
    }
    return check;
}

} // namespace tarvel::test
