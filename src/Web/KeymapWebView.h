#pragma once
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Apps/AppRecord.h"
#include "Karabiner/KarabinerEnvironment.h"
#include "Platform/FileManager.h"
#include "Platform/Json.h"
#include "Platform/MainQueue.h"
#include "Web/BundleSchemeHandler.h"
#include "Web/WebPage.h"

namespace tarvel {

// The view that hosts the editor page. Its construction is the platform layer's; what the page and
// the native side agree on lives here.
struct KeymapWebView {
    static constexpr std::string_view applyMessageName = "tarvelApply";
    static constexpr std::string_view appsMessageName = "tarvelApps";
    static constexpr std::string_view schemeName = "tarvelresource";
    static constexpr std::string_view pageAddress = "tarvelresource://local/index.html";
    static constexpr std::string_view resourceFolder = "WebResources";
    static constexpr std::string_view pageFileName = "index.html";
    static constexpr std::chrono::seconds pageRequestTimeout{60};

    // Shown instead of the editor when its files are missing.
    static std::string noticeDocument();

    class Coordinator;
};

// The native end of the page's channel: script messages in, one-line answer scripts out. It also
// holds the portable rules of the page's dialogs and downloads.
class KeymapWebView::Coordinator {
public:
    static constexpr std::string_view malformedApplyMessage = "malformed apply message from the web view";
    static constexpr std::string_view lintFailurePrefix = "ルールを検証できませんでした: ";
    static constexpr std::string_view applyAnswerStart = "window.__tarvelApplyResolve && window.__tarvelApplyResolve(";
    static constexpr std::string_view appsAnswerStart = "window.__tarvelAppsResolve && window.__tarvelAppsResolve(";
    static constexpr std::string_view appsAnswerNull = "window.__tarvelAppsResolve && window.__tarvelAppsResolve(null)";

    struct Services {
        std::shared_ptr<MainQueue> mainQueue;
        // AppInventory's running, installed, shortcuts and helperPath, collected in that order.
        std::function<AppInventoryPayload()> collectInventory;
        // Constants in the product; only tests put other values here.
        std::filesystem::path linterPath{std::string(KarabinerEnvironment::cliPath)};
        std::filesystem::path homeDirectory;  // empty: the current user's
        FileManager* fileManager = nullptr;   // null: the real file system
    };

    explicit Coordinator(Services services);

    // Set by the platform layer when it builds the view.
    std::weak_ptr<WebPage> webView;
    std::shared_ptr<BundleSchemeHandler> schemeHandler;

    // A script message posted by the page, its body as the engine converted it (null when it had none).
    void userContentControllerDidReceive(std::string_view name, const Json& body);

    // Where a download is saved: `folder` joined with `suggestedName`, or, when that exists,
    // "stem N.ext" for the first N from 2 that does not.
    static std::filesystem::path uniqueDestination(std::string_view suggestedName, const std::filesystem::path& folder,
                                                   const FileManager& fileManager = FileManager::defaultManager());
    // The first Downloads folder the platform reports, else the home folder.
    static std::filesystem::path downloadsFolder(const std::optional<std::filesystem::path>& platformDownloads,
                                                 const std::filesystem::path& home);

private:
    void apply(const Json& body);
    void sendAppInventory();
    void respond(bool ok, std::optional<std::string> error, std::optional<std::string> backupPath);
    void deliver(std::string script);

    Services services_;
};

} // namespace tarvel
