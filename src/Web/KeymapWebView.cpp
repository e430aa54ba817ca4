#include "Web/KeymapWebView.h"

#include "Karabiner/KarabinerLinter.h"
#include "Karabiner/KarabinerWriter.h"
#include "Platform/Paths.h"
#include "Platform/Text.h"

namespace tarvel {

namespace fs = std::filesystem;

std::string KeymapWebView::noticeDocument() {
    return "<html><body style=\"font-family:-apple-system;padding:24px;color:#3a3a3a\">\n"
           "WebResources/index.html was not found in the app bundle.<br>\n"
           "Run scripts/build-web-resources and rebuild.\n"
           "</body></html>";
}

using Coordinator = KeymapWebView::Coordinator;

Coordinator::Coordinator(Services services) : services_(std::move(services)) {
    if (services_.homeDirectory.empty()) services_.homeDirectory = currentHomeDirectory();
    if (!services_.fileManager) services_.fileManager = &FileManager::defaultManager();
}

void Coordinator::userContentControllerDidReceive(std::string_view name, const Json& body) {
    if (name == appsMessageName) {
        sendAppInventory();
    } else if (name == applyMessageName) {
        // Every apply request is answered once, whatever goes wrong underneath.
        try {
            apply(body);
        } catch (const std::exception& e) {
            respond(false, std::string("could not apply: ") + e.what(), std::nullopt);
        }
    }
}

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

} // namespace

void Coordinator::apply(const Json& body) {
    if (!isWellFormedApply(body)) {
        respond(false, std::string(malformedApplyMessage), std::nullopt);
        return;
    }
    const std::string& title = body.at("title").get_ref<const std::string&>();
    const Json& manipulators = body.at("manipulators");

    if (!manipulators.empty()) {
        if (auto reason = KarabinerLinter::lint(title, manipulators, services_.linterPath, *services_.fileManager)) {
            respond(false, std::string(lintFailurePrefix) + *reason, std::nullopt);
            return;
        }
    }

    const fs::path configURL = services_.homeDirectory / std::string(KarabinerEnvironment::configRelativePath);
    auto result = KarabinerWriter::apply(title, manipulators, configURL, *services_.fileManager);
    if (result)
        respond(true, std::nullopt, result->backupURL.string());
    else
        respond(false, localizedDescription(result.error()), std::nullopt);
}

void Coordinator::respond(bool ok, std::optional<std::string> error, std::optional<std::string> backupPath) {
    Json outcome = {{"ok", ok}};
    if (error) outcome["error"] = std::move(*error);
    if (backupPath) outcome["backupPath"] = std::move(*backupPath);
    // Texts can carry bytes from the file system (a parser's excerpt, a path) that are not UTF-8;
    // they are replaced rather than leaving the page waiting for an answer that never comes.
    std::string text = outcome.dump(-1, ' ', false, Json::error_handler_t::replace);
    deliver(std::string(applyAnswerStart) + escapeLineTerminatorsForScript(text) + ")");
}

void Coordinator::sendAppInventory() {
    std::optional<std::string> text;
    try {
        if (services_.collectInventory) text = encodeJSON(services_.collectInventory());
        else text = encodeJSON(AppInventoryPayload{});
    } catch (const std::exception&) {
        text.reset();
    }
    if (!text || !isValidUTF8(*text)) {
        deliver(std::string(appsAnswerNull));
        return;
    }
    deliver(std::string(appsAnswerStart) + escapeLineTerminatorsForScript(*text) + ")");
}

void Coordinator::deliver(std::string script) {
    std::weak_ptr<WebPage> page = webView;
    services_.mainQueue->async([page = std::move(page), script = std::move(script)] {
        if (auto view = page.lock()) view->evaluateJavaScript(script);
    });
}

fs::path Coordinator::downloadsFolder(const std::optional<fs::path>& platformDownloads, const fs::path& home) {
    if (platformDownloads && !platformDownloads->empty())
        return platformDownloads->is_absolute() ? *platformDownloads : home / *platformDownloads;
    return home;
}

fs::path Coordinator::uniqueDestination(std::string_view suggestedName, const fs::path& folder, const FileManager& fileManager) {
    // The page names the file; it never chooses the folder.
    std::string name(suggestedName.substr(suggestedName.find_last_of('/') == std::string_view::npos
                                              ? 0
                                              : suggestedName.find_last_of('/') + 1));
    if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
    if (name.empty() || name == "." || name == "..") name = "download";

    // A link that leads nowhere still takes the name: the download must not be written through it.
    auto taken = [&](const fs::path& path) {
        std::error_code error;
        return fileManager.fileExists(path) || fs::is_symlink(fs::symlink_status(path, error));
    };
    fs::path candidate = folder / name;
    if (!taken(candidate)) return candidate;

    // The extension follows the last full stop, unless that stop starts the name (".profile").
    auto dot = name.find_last_of('.');
    std::string stem = name, extension;
    if (dot != std::string::npos && dot != 0 && dot + 1 < name.size()) {
        stem = name.substr(0, dot);
        extension = name.substr(dot + 1);
    }
    for (unsigned long counter = 2;; ++counter) {
        std::string next = stem + " " + std::to_string(counter);
        if (!extension.empty()) next += "." + extension;
        candidate = folder / next;
        if (!taken(candidate)) return candidate;
    }
}

} // namespace tarvel
