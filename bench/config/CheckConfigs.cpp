// Applies to every configuration in a folder (on a copy) and says, per file and per kind of
// apply, whether bytes outside the profile's rules value stayed, whether the result reads as the
// document a full rewrite gives, and, for files that Karabiner-Elements wrote, whether the result
// is exactly what it would write. Two more applies state the profile's final rule list: every rule
// kept in its place (the file must stay byte for byte), and the rules reversed with the first one
// edited (turned off or on, renamed), a new one in the middle, a simple modification and a
// parameter changed (the result must read as that document). Run through bench/check-configs.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Karabiner/ApplyCheck.h"

namespace fs = std::filesystem;
using namespace tarvel;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(argv[1]))
        if (entry.is_regular_file() && (entry.path().extension() == ".json" || entry.path().extension() == ".jsonc"))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());

    const Json manipulators = Json::parse(R"([{"type": "basic", "from": {"key_code": "caps_lock", "modifiers": {"optional": ["any"]}},
        "to": [{"key_code": "left_control"}], "to_if_alone": [{"key_code": "escape"}]}])");
    test::TemporaryDirectory scratch;
    std::map<std::string, int> totals;
    int failures = 0;
    std::printf("%-64s %8s %-3s | %-44s | %-44s | %-44s | %-14s | %s\n", "file", "bytes", "KE", "add two rules, keep the others",
                "replace every rule", "remove every rule", "list: kept", "list: reversed, edited, added, values");
    for (const auto& file : files) {
        const std::string original = test::readFile(file);
        std::printf("%-64.64s %8zu ", file.filename().c_str(), original.size());
        auto span = [&]() -> std::optional<jsonc::Span> {
            try {
                return test::rulesSpan(original, std::nullopt);
            } catch (...) {
                return std::nullopt;
            }
        }();
        std::vector<std::size_t> others;
        if (span && original[span->begin] == '[') {
            auto rules = jsonc::elements(original, span->begin);
            for (std::size_t i = 0; i < rules.size(); ++i) {
                auto description = original[rules[i].begin] == '{' ? jsonc::lastMember(original, rules[i].begin, "description") : std::nullopt;
                if (!description || !jsonc::decodeString(description->value.of(original)).starts_with(KarabinerWriter::ruleTitleMarker))
                    others.push_back(i);
            }
        }
        KarabinerApplyRequest add, replace, remove;
        add.rules = {TarvelRule{"Check: one", true, manipulators}, TarvelRule{"Check: two", false, manipulators}};
        add.keep = others;
        add.baseDigest = KarabinerWriter::digest(original);
        replace.rules = {TarvelRule{"Check", true, manipulators}};
        bool first = true;
        for (const auto* request : {&add, &replace, &remove}) {
            auto check = test::checkApply(original, *request, scratch / "config");
            if (first) std::printf("%-3s", check.error.empty() ? (check.karabinerWritten ? "yes" : "no") : "-");
            first = false;
            std::string cell;
            if (!check.error.empty()) {
                cell = "refused: " + check.error.substr(0, 60);
                ++totals["refused"];
            } else {
                cell = std::string("outside ") + (check.outsideUnchanged ? "same" : "CHANGED") + ", rewrite " +
                       (check.sameAsFullRewrite ? "same" : "DIFFERS");
                if (check.karabinerWritten) cell += std::string(", as KE ") + (check.asKarabinerWrites ? "yes" : "NO");
                if (!check.outsideUnchanged) cell += " (" + check.changed + ")";
                failures += !check.sameAsFullRewrite || (check.karabinerWritten && !check.asKarabinerWrites);
                ++totals[check.outsideUnchanged ? "outside same" : "re-laid"];
                ++totals[check.sameAsFullRewrite ? "rewrite same" : "rewrite differs"];
                if (check.karabinerWritten) ++totals[check.asKarabinerWrites ? "as KE" : "not as KE"];
            }
            std::printf(" | %-44s", cell.c_str());
        }
        // The profile's final rule list (for the files that are configurations): first every rule in its place.
        Json profile;
        try {
            const Json document = test::readerView(original);
            profile = document.at("profiles").at(0);
            for (const auto& p : document["profiles"])
                if (p.is_object() && p.contains("selected") && p["selected"] == true) {
                    profile = p;
                    break;
                }
        } catch (const std::exception&) {
        }
        if (!profile.is_object() || !test::checkApply(original, {}, scratch / "config").error.empty()) {
            std::printf(" | %-14s | -\n", "-");
            continue;
        }
        const Json rules = span && original[span->begin] == '[' ? profile["complex_modifications"]["rules"] : Json::array();
        KarabinerApplyRequest kept;
        kept.baseDigest = KarabinerWriter::digest(original);
        kept.ruleList.emplace();
        for (std::size_t i = 0; i < rules.size(); ++i) kept.ruleList->push_back({i, std::nullopt});
        auto same = test::checkApply(original, kept, scratch / "config");
        const bool identical = same.error.empty() && same.result == original;
        std::printf(" | %-14s", identical ? "same bytes" : ("DIFFERS " + same.error.substr(0, 30)).c_str());
        failures += !identical;
        ++totals[identical ? "list kept: same bytes" : "list kept: DIFFERS"];

        // Then reversed, the first rule edited, a new rule in the middle, two values replaced.
        KarabinerApplyRequest round;
        round.baseDigest = kept.baseDigest;
        round.ruleList.emplace();
        for (std::size_t i = rules.size(); i-- > 0;) {
            if (i == 0 && rules[0].is_object()) {
                Json rule = rules[0];
                rule["description"] = rule.value("description", Json("")).is_string() ? rule.value("description", "") + " (edited)" : "edited";
                if (rule.contains("enabled") && rule["enabled"] == false) rule.erase("enabled");
                else rule["enabled"] = false;
                if (!rule.contains("manipulators") || !rule["manipulators"].is_array()) rule["manipulators"] = manipulators;
                round.ruleList->push_back({0, rule});
            } else {
                round.ruleList->push_back({i, std::nullopt});
            }
            if (i == rules.size() / 2) round.ruleList->push_back({std::nullopt, Json{{"description", "Check: new"}, {"manipulators", manipulators}}});
        }
        if (rules.empty()) round.ruleList->push_back({std::nullopt, Json{{"description", "Check: new"}, {"manipulators", manipulators}}});
        Json modifications = profile.contains("simple_modifications") && profile["simple_modifications"].is_array() ? profile["simple_modifications"] : Json::array();
        modifications.push_back({{"from", {{"key_code", "f13"}}}, {"to", {{{"key_code", "escape"}}}}});
        Json parameters = profile.contains("complex_modifications") && profile["complex_modifications"].is_object()
                              ? profile["complex_modifications"].value("parameters", Json::object())
                              : Json::object();
        if (!parameters.is_object()) parameters = Json::object();
        parameters["basic.to_if_alone_timeout_milliseconds"] = 250;
        round.values = {{ProfileValue::Kind::simpleModifications, 0, modifications}, {ProfileValue::Kind::parameters, 0, parameters}};
        auto trip = test::checkApply(original, round, scratch / "config");
        std::string cell;
        if (!trip.error.empty()) {
            cell = "refused: " + trip.error.substr(0, 60);
            ++failures;
        } else {
            cell = trip.sameAsFullRewrite ? "reads as expected" : "DIFFERS";
            if (trip.karabinerWritten) cell += std::string(", as KE ") + (trip.asKarabinerWrites ? "yes" : "NO");
            failures += !trip.sameAsFullRewrite || (trip.karabinerWritten && !trip.asKarabinerWrites);
            ++totals[trip.sameAsFullRewrite ? "list edited: reads as expected" : "list edited: DIFFERS"];
            if (trip.karabinerWritten) ++totals[trip.asKarabinerWrites ? "list edited: as KE" : "list edited: not as KE"];
        }
        std::printf(" | %s\n", cell.c_str());
    }
    std::printf("\n%zu files, 3 applies each, 2 more stating the rule list where there is one:", files.size());
    for (const auto& [name, count] : totals) std::printf(" %s %d;", name.c_str(), count);
    std::printf("\n%s\n", failures ? "FAILED"
                                    : "every apply read as expected; a list keeping every rule left every file as it was; every file "
                                      "Karabiner-Elements wrote came out as it writes");
    return failures ? 1 : 0;
}
