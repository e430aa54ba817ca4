#include "Karabiner/KarabinerWriter.h"
#include "Web/BridgeMessages.h"

namespace tarvel::bridge {

namespace {

std::string restore(const Json& body, const Services& services) {
    const auto malformed = [] {
        return outcomeText(false, std::string(KeymapWebView::Coordinator::malformedRestoreMessage), std::nullopt, "malformed");
    };
    if (!body.is_object()) return malformed();
    auto name = body.find("name");
    if (name == body.end() || !name->is_string()) return malformed();
    std::optional<std::string> baseDigest;
    if (auto digest = body.find("baseDigest"); digest != body.end()) {
        // One answer per kind of digest, as for an apply: not a digest is malformed, another file's is "changed".
        if (!digest->is_string() || !KarabinerWriter::isDigest(digest->get_ref<const std::string&>())) return malformed();
        baseDigest = digest->get<std::string>();
    }
    const auto& backupName = name->get_ref<const std::string&>();
    auto result = KarabinerWriter::restore(backupName, baseDigest, configurationPath(services), *services.fileManager);
    if (result) return outcomeText(true, std::nullopt, result->backupURL.string());
    return outcomeText(false, localizedDescription(result.error()), std::nullopt, errorCode(result.error()), errorPosition(result.error()));
}

} // namespace

std::string restoreAnswer(const Json& body, const Services& services) {
    try {
        return restore(body, services);
    } catch (const std::exception& e) {
        return outcomeText(false, std::string("could not restore: ") + e.what(), std::nullopt);
    }
}

} // namespace tarvel::bridge
