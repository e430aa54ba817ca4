#include "Karabiner/KarabinerLinter.h"
#include "Karabiner/KarabinerWriter.h"
#include "Web/BridgeMessages.h"

namespace tarvel::bridge {

namespace fs = std::filesystem;
using Coordinator = KeymapWebView::Coordinator;

namespace {

bool isWellFormedApply(const Json& body) {
    if (!body.is_object()) return false;
    auto title = body.find("title");
    if (title == body.end() || !title->is_string()) return false;
    auto manipulators = body.find("manipulators");
    if (manipulators == body.end() || !manipulators->is_array()) return false;
    for (const auto& manipulator : *manipulators)
        if (!manipulator.is_object()) return false;
    return true;
}

std::string apply(const Json& body, const Services& services) {
    if (!isWellFormedApply(body)) return outcomeText(false, std::string(Coordinator::malformedApplyMessage), std::nullopt);
    const std::string& title = body.at("title").get_ref<const std::string&>();
    const Json& manipulators = body.at("manipulators");

    if (!manipulators.empty()) {
        if (auto reason = KarabinerLinter::lint(title, manipulators, services.linterPath, *services.fileManager,
                                                {.stopRequested = services.stopRequested}))
            return outcomeText(false, std::string(Coordinator::lintFailurePrefix) + *reason, std::nullopt);
    }

    const fs::path configURL = services.homeDirectory / std::string(KarabinerEnvironment::configRelativePath);
    auto result = KarabinerWriter::apply(title, manipulators, configURL, *services.fileManager);
    if (result) return outcomeText(true, std::nullopt, result->backupURL.string());
    return outcomeText(false, localizedDescription(result.error()), std::nullopt);
}

} // namespace

std::string applyAnswer(const Json& body, const Services& services) {
    // Every apply request is answered once, whatever goes wrong underneath.
    try {
        return apply(body, services);
    } catch (const std::exception& e) {
        return outcomeText(false, std::string("could not apply: ") + e.what(), std::nullopt);
    }
}

std::string outcomeText(bool ok, std::optional<std::string> error, std::optional<std::string> backupPath,
                        std::optional<std::string> code) {
    Json outcome = {{"ok", ok}};
    if (error) outcome["error"] = std::move(*error);
    if (backupPath) outcome["backupPath"] = std::move(*backupPath);
    if (code) outcome["code"] = std::move(*code);
    // Texts can carry bytes from the file system (a parser's excerpt, a path) that are not UTF-8;
    // they are replaced rather than leaving the page waiting for an answer that never comes.
    return outcome.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace tarvel::bridge
