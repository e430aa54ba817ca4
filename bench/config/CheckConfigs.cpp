// Applies to every configuration in a folder (on a copy) and says, per file and per kind of
// apply, whether bytes outside the profile's rules value stayed, whether the result reads as the
// document a full rewrite gives, and, for files that Karabiner-Elements wrote, whether the result
// is exactly what it would write. Run through bench/check-configs.
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
    std::printf("%-64s %8s %-3s | %-44s | %-44s | %s\n", "file", "bytes", "KE", "add two rules, keep the others", "replace every rule",
                "remove every rule");
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
        std::printf("\n");
    }
    std::printf("\n%zu files, 3 applies each:", files.size());
    for (const auto& [name, count] : totals) std::printf(" %s %d;", name.c_str(), count);
    std::printf("\n%s\n", failures ? "FAILED" : "every apply read as a full rewrite; every file Karabiner-Elements wrote came out as it writes");
    return failures ? 1 : 0;
}
