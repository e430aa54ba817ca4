#include "Web/KeymapWebView.h"

#include "Web/BridgeMessages.h"
#include "Web/NavigationPolicy.h"
#include "Platform/Paths.h"

namespace tarvel {

namespace fs = std::filesystem;

std::string KeymapWebView::noticeDocument() {
    return "<html><body style=\"font-family:-apple-system;padding:24px;color:#3a3a3a\">\n"
           "WebResources/index.html was not found in the app bundle.<br>\n"
           "Run scripts/build-web-resources and rebuild.\n"
           "</body></html>";
}

std::string KeymapWebView::stoppedNoticeDocument() {
    return "<html lang=\"ja\"><head><meta charset=\"utf-8\"></head>"
           "<body style=\"font-family:-apple-system,system-ui,sans-serif;padding:24px;color:#3a3a3a\">\n"
           "<p>エディタが続けて停止したため、再読み込みを止めました。Tarvelを終了して、もう一度開いてください。</p>\n"
           "<p lang=\"en\">The editor stopped twice in a row, so Tarvel did not reload it again. Quit Tarvel and "
           "open it again.</p>\n"
           "</body></html>";
}

using Coordinator = KeymapWebView::Coordinator;

Coordinator::Coordinator(Services services) : services_(std::move(services)) {
    if (services_.homeDirectory.empty()) services_.homeDirectory = currentHomeDirectory();
    if (!services_.fileManager) services_.fileManager = &FileManager::defaultManager();
    messages_ = {
        {applyMessageName, "__tarvelApplyResolve", [this](const Json& body) { return bridge::applyAnswer(body, services_); },
         [](std::string_view code, std::string_view text) {
             return bridge::outcomeText(false, std::string(text), std::nullopt, std::string(code));
         }},
        {appsMessageName, "__tarvelAppsResolve", [this](const Json&) { return bridge::inventoryAnswer(services_); }, nullptr},
        {configMessageName, "__tarvelConfigResolve", [this](const Json&) { return bridge::configAnswer(services_); }, nullptr},
        {restoreMessageName, "__tarvelRestoreResolve", [this](const Json& body) { return bridge::restoreAnswer(body, services_); },
         [](std::string_view code, std::string_view text) {
             return bridge::outcomeText(false, std::string(text), std::nullopt, std::string(code));
         }},
    };
}

std::vector<std::string_view> Coordinator::messageNames() const {
    std::vector<std::string_view> names;
    for (const auto& message : messages_) names.push_back(message.name);
    return names;
}

void Coordinator::userContentControllerDidReceive(std::string_view name, std::string_view bodyJSON,
                                                  std::string_view documentURL) {
    // Only the editor's documents get the bridge; the view never shows another, but a message
    // must not be trusted for its name alone.
    if (!isEditorDocument(documentURL)) return;
    for (const auto& message : messages_) {
        if (message.name != name) continue;
        deliver(answerScript(message.resolveFunction, answerFor(message, bodyJSON)));
        return;
    }
}

std::string Coordinator::answerFor(const Message& message, std::string_view bodyJSON) {
    if (!message.refuse) return message.answer(nullptr);
    if (bodyJSON.size() > maxBodyBytes) return message.refuse("tooLarge", bodyTooLargeMessage);
    if (jsonNestingDepth(bodyJSON) > maxBodyDepth) return message.refuse("tooDeep", bodyTooDeepMessage);
    // No body, or one that is not JSON, is null: no message that reads its body accepts it.
    Json body = bodyJSON.empty() ? Json(nullptr) : Json::parse(bodyJSON, nullptr, false);
    if (body.is_discarded()) body = nullptr;
    return message.answer(body);
}

std::string Coordinator::answerScript(std::string_view resolveFunction, std::string_view jsonText) {
    // The guard drops an answer for a page that lacks the function instead of raising an error.
    const std::string function = "window." + std::string(resolveFunction);
    return function + " && " + function + "(" + escapeLineTerminatorsForScript(jsonText) + ")";
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
