#pragma once
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Apps/AppRecord.h"
#include "Karabiner/ConfigWatcher.h"
#include "Karabiner/KarabinerEnvironment.h"
#include "Platform/FileManager.h"
#include "Platform/FolderMonitor.h"
#include "Platform/HttpTransport.h"
#include "Platform/Json.h"
#include "Platform/MainQueue.h"
#include "Platform/Timer.h"
#include "Platform/WorkQueue.h"
#include "Web/BundleSchemeHandler.h"
#include "Web/RuleFetch.h"
#include "Web/WebPage.h"

namespace tarvel {

class SerialWorker;

// The view that hosts the editor page. Its construction is the platform layer's; what the page and
// the native side agree on lives here.
struct KeymapWebView {
    static constexpr std::string_view applyMessageName = "tarvelApply";
    static constexpr std::string_view appsMessageName = "tarvelApps";
    static constexpr std::string_view configMessageName = "tarvelConfig";
    static constexpr std::string_view restoreMessageName = "tarvelRestore";
    static constexpr std::string_view fetchMessageName = "tarvelFetch";
    static constexpr std::string_view schemeName = "tarvelresource";
    static constexpr std::string_view pageAddress = "tarvelresource://local/index.html";
    static constexpr std::string_view resourceFolder = "WebResources";
    static constexpr std::string_view pageFileName = "index.html";
    static constexpr std::chrono::seconds pageRequestTimeout{60};

    // Loaded after the page's web process died: the page then says that an unsaved change may need
    // to be redone.
    static constexpr std::string_view recoveredPageAddress = "tarvelresource://local/index.html?recovered=1";

    // Shown instead of the editor when its files are missing.
    static std::string noticeDocument();
    // Shown instead of reloading when the page's web process died twice within a minute.
    static std::string stoppedNoticeDocument();

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
    static constexpr std::string_view configAnswerStart = "window.__tarvelConfigResolve && window.__tarvelConfigResolve(";
    static constexpr std::string_view restoreAnswerStart = "window.__tarvelRestoreResolve && window.__tarvelRestoreResolve(";
    static constexpr std::string_view malformedRestoreMessage = "malformed restore message from the web view";
    static constexpr std::string_view fetchAnswerStart = "window.__tarvelFetchResolve && window.__tarvelFetchResolve(";
    static constexpr std::string_view malformedFetchMessage = "malformed fetch message from the web view";
    // Pushed, not asked for: karabiner.json changed on disk, the page reads it again.
    static constexpr std::string_view configChangedScript = "window.__tarvelConfigChanged && window.__tarvelConfigChanged(null)";
    // An apply body carries at most this many manipulators in all.
    static constexpr std::size_t maxManipulators = 20000;
    static constexpr std::string_view tooManyManipulatorsMessage = "the rule set has more than 20,000 manipulators";

    // The queues answers are worked out on, off the main thread, one per kind of work. Each runs
    // its work one piece at a time in the order it came; the queues run beside each other, so that
    // reading never waits behind a lint or a write. Each message names its queue: a new message
    // takes the one of its kind, or a new kind.
    enum class Queue : std::size_t {
        inventory,      // the applications and Shortcuts on this machine
        configuration,  // karabiner.json and its backups, read
        changes,        // applies and restores: a lint, a backup and a write, one at a time
        network,        // rule documents fetched from the network, up to 20 s each
    };
    static constexpr std::size_t queueCount = 4;  // how many values Queue has

    struct Services {
        std::shared_ptr<MainQueue> mainQueue;
        // Null: a serial worker of the coordinator's own for each queue. Otherwise (tests and
        // benchmarks) the work of every queue goes here, in the order the messages came.
        std::shared_ptr<WorkQueue> workQueue;
        // AppInventory's running, installed, shortcuts and helperPath, collected in that order.
        // Called on the inventory queue.
        std::function<AppInventoryPayload()> collectInventory;
        // Constants in the product; only tests put other values here.
        std::filesystem::path linterPath{std::string(KarabinerEnvironment::cliPath)};
        std::filesystem::path homeDirectory;  // empty: the current user's
        FileManager* fileManager = nullptr;   // null: the real file system
        // Tells when karabiner.json changes; null: it is not watched. The timer waits for changes
        // to settle; null: a timer thread of the watcher's own.
        std::shared_ptr<FolderMonitor> folderMonitor;
        std::shared_ptr<Timer> watchTimer;
        // Makes tarvelFetch's requests; null: fetching fails as offline. The limits are constants in
        // the product; only tests put other values here.
        std::shared_ptr<HttpTransport> httpTransport;
        RuleFetch::Limits fetchLimits;
        // Set by the coordinator: true once it is going away, so that a running linter is ended
        // instead of waited for.
        const std::atomic<bool>* stopRequested = nullptr;
    };

    // One message the page may post: its name, the page function that receives the answer, the
    // queue its answers are worked out on, and what turns the body into the answer's JSON text.
    // Answers of one name keep the order of its requests (not across names); every request is
    // answered exactly once (unless its page is gone by then).
    struct Message {
        std::string_view name;
        std::string_view resolveFunction;  // e.g. "__tarvelApplyResolve"
        Queue queue;
        // Runs on the message's queue, never on the main thread, beside the other queues' work: it
        // may use the services, nothing else.
        std::function<std::string(const Json& body, const Services& services)> answer;
        // Null for messages whose body is never looked at. Otherwise the answer to a body refused at
        // the door, from a code ("tooLarge", "tooDeep") and an English text.
        std::function<std::string(std::string_view code, std::string_view text)> refuse;
    };

    // Bodies are bounded before anything parses them.
    static constexpr std::size_t maxBodyBytes = 8 * 1024 * 1024;
    static constexpr std::size_t maxBodyDepth = 64;
    static constexpr std::string_view bodyTooLargeMessage = "the message from the editor is larger than 8 MB";
    static constexpr std::string_view bodyTooDeepMessage = "the message from the editor is nested deeper than 64 levels";

    explicit Coordinator(Services services);
    // Work not started is dropped, a running linter is ended, and the wait for the rest is bounded
    // by one shutdown limit for all the queues together.
    ~Coordinator();
    Coordinator(const Coordinator&) = delete;
    Coordinator& operator=(const Coordinator&) = delete;

    // Set by the platform layer when it builds the view.
    std::weak_ptr<WebPage> webView;
    std::shared_ptr<BundleSchemeHandler> schemeHandler;

    // A script message: its name, its body as JSON text (empty when it had none or the engine could
    // not convert it) and the address of the document that posted it. Names outside the table and
    // messages from any document but the editor's own are ignored. Returns at once: the answer is
    // worked out on the message's queue and delivered through the main queue.
    void userContentControllerDidReceive(std::string_view name, std::string_view bodyJSON, std::string_view documentURL);

    // The view shows a new document (a load committed, or the page's web process died). Answers to
    // what an earlier document asked are dropped: they would resolve the new page's own requests.
    void documentChanged();

    // The message names the platform layer registers with the engine, in this order.
    std::vector<std::string_view> messageNames() const;

    // "window.<function> && window.<function>(<json>)"
    static std::string answerScript(std::string_view resolveFunction, std::string_view jsonText);

    // Where a download is saved: `folder` joined with `suggestedName`, or, when that exists,
    // "stem N.ext" for the first N from 2 that does not.
    static std::filesystem::path uniqueDestination(std::string_view suggestedName, const std::filesystem::path& folder,
                                                   const FileManager& fileManager = FileManager::defaultManager());
    // The first Downloads folder the platform reports, else the home folder.
    static std::filesystem::path downloadsFolder(const std::optional<std::filesystem::path>& platformDownloads,
                                                 const std::filesystem::path& home);

private:
    struct Shared;  // what the queued work holds: it may outlive the coordinator
    // On the main thread: hands waiting answers to their pages, in order, a slice at a time.
    static void deliverAnswers(const std::shared_ptr<Shared>& shared);
    // On the main thread: tells the editor's page that karabiner.json changed.
    void pushConfigChanged();
    std::shared_ptr<Shared> shared_;
    std::array<std::shared_ptr<WorkQueue>, queueCount> queues_;
    std::vector<std::shared_ptr<SerialWorker>> ownWorkers_;  // those of queues_ the coordinator made
    std::unique_ptr<ConfigWatcher> configWatcher_;
};

} // namespace tarvel
