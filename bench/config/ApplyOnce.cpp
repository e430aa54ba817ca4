// One apply on a given karabiner.json, for the scripts that kill applies, race two processes and
// measure memory; and the generator of large configurations they use. Not installed.
//
//   tarvel_apply_once apply CONFIG TITLE [--keep-others]   one rule titled TITLE; with --keep-others the
//                                                          rules not marked "[Tarvel] " stay (the page's
//                                                          default), checked against the digest read
//   tarvel_apply_once add CONFIG NAME                      adds a rule NAME before every rule there, with
//                                                          the digest read first (the page's flow)
//   tarvel_apply_once generate CONFIG BYTES                a configuration of about BYTES
//
// Prints "ok BACKUP", or "error CODE: TEXT" with exit status 3 for "changed" and 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Karabiner/JsoncScanner.h"
#include "Karabiner/KarabinerConfig.h"
#include "Karabiner/KarabinerWriter.h"
#include "Platform/FileIO.h"

namespace fs = std::filesystem;
using namespace tarvel;

namespace {

Json manipulator(const std::string& text) {
    return Json::parse(R"({"type": "basic", "from": {"key_code": "a", "modifiers": {"mandatory": ["left_command", "left_control"]}},
        "to": [{"shell_command": "open -a ')" + text + R"('"}],
        "conditions": [{"type": "frontmost_application_unless", "bundle_identifiers": ["^com\\.apple\\.Terminal$"]}]})");
}

int report(const Result<KarabinerApplyResult, KarabinerApplyError>& result) {
    if (result) {
        std::printf("ok %s\n", result->backupURL.c_str());
        return 0;
    }
    const auto code = errorCode(result.error()).value_or("none");
    std::printf("error %s: %s\n", code.c_str(), localizedDescription(result.error()).c_str());
    return code == "changed" ? 3 : 1;
}

// The digest and the rules of the profile an apply changes, read as the page reads them.
struct Snapshot {
    std::string digest;
    std::vector<std::string> descriptions;
};

std::optional<Snapshot> snapshot(const fs::path& config) {
    auto bytes = readWholeFile(config);
    if (!bytes) return std::nullopt;
    Snapshot snap{KarabinerWriter::digest(*bytes), {}};
    auto text = examineConfiguration(std::move(*bytes));
    if (!text) return std::nullopt;
    for (const auto& rule : text->rules(text->selected)) {
        auto description = jsonc::lastMember(text->text(), rule.begin, "description");
        snap.descriptions.push_back(description ? jsonc::decodeString(description->value.of(text->text())) : "");
    }
    return snap;
}

int generate(const fs::path& config, std::size_t bytes) {
    auto document = [](std::size_t count) {
        Json rules = Json::array();
        for (std::size_t i = 0; i < count; ++i)
            rules.push_back({{"description", "rule " + std::to_string(i)}, {"manipulators", Json::array({manipulator("App " + std::to_string(i))})}});
        return Json{{"global", {{"show_in_menu_bar", true}}},
                    {"profiles", {{{"name", "Default"}, {"selected", true}, {"complex_modifications", {{"rules", std::move(rules)}}}}}}}
            .dump(4);
    };
    // Measure a sample, then scale the number of rules to the size wanted.
    const std::size_t sample = document(100).size();
    return writeFileAtomically(config, document(std::max<std::size_t>(1, bytes * 100 / sample))) ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s apply CONFIG TITLE [--keep-others] | add CONFIG NAME | generate CONFIG BYTES\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const fs::path config = argv[2];
    const std::string argument = argv[3];
    auto& files = FileManager::defaultManager();
    if (mode == "generate") return generate(config, std::stoull(argument));

    KarabinerApplyRequest request;
    request.rules.push_back({argument, true, Json::array({manipulator(argument)})});
    const bool keepOthers = argc > 4 && std::string(argv[4]) == "--keep-others";
    if (mode == "add" || keepOthers) {
        auto snap = snapshot(config);
        if (!snap) {
            std::printf("error read: could not read %s\n", config.c_str());
            return 1;
        }
        request.baseDigest = snap->digest;
        for (std::size_t i = 0; i < snap->descriptions.size(); ++i)
            if (mode == "add" || !snap->descriptions[i].starts_with(KarabinerWriter::ruleTitleMarker)) request.keep.push_back(i);
    } else if (mode != "apply") {
        return 2;
    }
    return report(KarabinerWriter::apply(request, config, files));
}
