#include "Web/KeymapWebView.h"

#include "Web/BridgeMessages.h"
#include "Web/NavigationPolicy.h"
#include "Platform/Paths.h"
#include "Platform/SerialWorker.h"

#include <deque>
#include <mutex>
#include <utility>

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

struct Coordinator::Shared {
    Services services;               // read-only once built; read by the work queue
    std::vector<Message> messages;   // the same
    std::atomic<bool> stopRequested{false};
    std::uint64_t document = 0;      // which document the view shows; main thread only

    // Answers on their way to the main thread, in order, and whether a delivery of them is posted.
    struct Answer {
        std::uint64_t document;
        std::weak_ptr<WebPage> page;
        std::string script;
    };
    std::mutex outboxMutex;
    std::deque<Answer> outbox;
    bool deliveryPosted = false;
    // A push that karabiner.json changed is on its way to the main thread.
    std::atomic<bool> configPushPosted{false};
};

namespace {

// One request's answer, whatever happens underneath: a body over the limits is refused, one that
// is not JSON is null, and an answer function that throws becomes a failure of its own kind.
std::string answerFor(const Coordinator::Message& message, const Coordinator::Services& services,
                      const std::optional<std::string>& bodyJSON) {
    try {
        if (!message.refuse) return message.answer(nullptr, services);
        if (!bodyJSON) return message.refuse("tooLarge", Coordinator::bodyTooLargeMessage);
        if (jsonNestingDepth(*bodyJSON) > Coordinator::maxBodyDepth)
            return message.refuse("tooDeep", Coordinator::bodyTooDeepMessage);
        // No body, or one that is not JSON, is null: no message that reads its body accepts it.
        Json body = bodyJSON->empty() ? Json(nullptr) : Json::parse(*bodyJSON, nullptr, false);
        if (body.is_discarded()) body = nullptr;
        return message.answer(body, services);
    } catch (...) {
    }
    try {
        if (message.refuse) return message.refuse("internalError", "Tarvel could not answer this request");
    } catch (...) {
    }
    return "null";
}

// At most this many answers, of at most this many bytes together, reach the page in one main-loop
// slice, so that a flood of them (ten thousand applies posted at once) never holds the window.
constexpr std::size_t deliveryBatchCount = 200;
constexpr std::size_t deliveryBatchBytes = 1024 * 1024;

} // namespace

// What is left after a slice waits for the loop's own pending work, drawing included.
void Coordinator::deliverAnswers(const std::shared_ptr<Shared>& shared) {
    std::vector<Shared::Answer> slice;
    bool more = false;
    {
        std::lock_guard lock(shared->outboxMutex);
        std::size_t bytes = 0;
        while (!shared->outbox.empty() && slice.size() < deliveryBatchCount &&
               (slice.empty() || bytes + shared->outbox.front().script.size() <= deliveryBatchBytes)) {
            bytes += shared->outbox.front().script.size();
            slice.push_back(std::move(shared->outbox.front()));
            shared->outbox.pop_front();
        }
        more = !shared->outbox.empty();
        if (!more) shared->deliveryPosted = false;
    }
    // Consecutive answers for one page go over together.
    std::vector<std::string> scripts;
    std::shared_ptr<WebPage> target;
    auto flush = [&] {
        if (target && !scripts.empty()) target->evaluateJavaScripts(scripts);
        scripts.clear();
    };
    for (auto& answer : slice) {
        if (answer.document != shared->document) continue;
        auto view = answer.page.lock();
        if (!view) continue;
        if (view != target) {
            flush();
            target = std::move(view);
        }
        scripts.push_back(std::move(answer.script));
    }
    flush();
    if (more) shared->services.mainQueue->asyncAfterPendingWork([shared] { deliverAnswers(shared); });
}

Coordinator::Coordinator(Services services) : shared_(std::make_shared<Shared>()) {
    if (services.homeDirectory.empty()) services.homeDirectory = currentHomeDirectory();
    if (!services.fileManager) services.fileManager = &FileManager::defaultManager();
    for (auto& queue : queues_) {
        if (services.workQueue) {
            queue = services.workQueue;
        } else {
            ownWorkers_.push_back(std::make_shared<SerialWorker>());
            queue = ownWorkers_.back();
        }
    }
    services.workQueue.reset();  // queued work must never be what keeps its own queue alive
    services.stopRequested = &shared_->stopRequested;
    shared_->services = std::move(services);
    auto outcomeRefusal = [](std::string_view code, std::string_view text) {
        return bridge::outcomeText(false, std::string(text), std::nullopt, std::string(code));
    };
    shared_->messages = {
        {applyMessageName, "__tarvelApplyResolve", Queue::changes, bridge::applyAnswer, outcomeRefusal},
        {appsMessageName, "__tarvelAppsResolve", Queue::inventory,
         [](const Json&, const Services& services) { return bridge::inventoryAnswer(services); }, nullptr},
        {configMessageName, "__tarvelConfigResolve", Queue::configuration,
         [](const Json&, const Services& services) { return bridge::configAnswer(services); }, nullptr},
        {restoreMessageName, "__tarvelRestoreResolve", Queue::changes, bridge::restoreAnswer, outcomeRefusal},
        {fetchMessageName, "__tarvelFetchResolve", Queue::network, bridge::fetchAnswer, bridge::fetchRefusal},
    };
    if (shared_->services.folderMonitor) {
        // Changes come on the watcher's thread; the page hears of them on the main thread, where the
        // coordinator is also destroyed, so a push that finds it stopping is dropped.
        configWatcher_ = std::make_unique<ConfigWatcher>(
            bridge::configurationPath(shared_->services), shared_->services.folderMonitor, shared_->services.watchTimer,
            [shared = shared_, self = this] {
                if (shared->configPushPosted.exchange(true)) return;
                shared->services.mainQueue->async([shared, self] {
                    shared->configPushPosted = false;
                    if (!shared->stopRequested) self->pushConfigChanged();
                });
            });
    }
}

void Coordinator::pushConfigChanged() {
    auto page = webView.lock();
    if (page && isEditorDocument(page->documentURL())) page->evaluateJavaScript(std::string(configChangedScript));
}

Coordinator::~Coordinator() {
    shared_->stopRequested = true;
    configWatcher_.reset();
    documentChanged();  // nothing more reaches the page from here
    // Every queue is stopped before any is waited for, so that the waits overlap.
    for (auto& worker : ownWorkers_) worker->stop();
    queues_ = {};
    ownWorkers_.clear();
}

std::vector<std::string_view> Coordinator::messageNames() const {
    std::vector<std::string_view> names;
    for (const auto& message : shared_->messages) names.push_back(message.name);
    return names;
}

void Coordinator::userContentControllerDidReceive(std::string_view name, std::string_view bodyJSON,
                                                  std::string_view documentURL) {
    // Only the editor's documents get the bridge; the view never shows another, but a message
    // must not be trusted for its name alone.
    if (!isEditorDocument(documentURL)) return;
    for (std::size_t index = 0; index < shared_->messages.size(); ++index) {
        const Message& message = shared_->messages[index];
        if (message.name != name) continue;
        // The main thread only measures the body; a body over the limit is not even copied. The
        // refusal still waits its turn, so that answers keep the order of their name's requests.
        std::optional<std::string> body;
        if (message.refuse && bodyJSON.size() <= maxBodyBytes) body.emplace(bodyJSON);
        WorkQueue& queue = *queues_.at(static_cast<std::size_t>(message.queue));
        queue.async([shared = shared_, index, body = std::move(body), page = webView, document = shared_->document] {
            const Message& message = shared->messages[index];
            std::string script = answerScript(message.resolveFunction, answerFor(message, shared->services, body));
            bool postDelivery = false;
            {
                std::lock_guard lock(shared->outboxMutex);
                shared->outbox.push_back({document, page, std::move(script)});
                postDelivery = !std::exchange(shared->deliveryPosted, true);
            }
            if (postDelivery) shared->services.mainQueue->async([shared] { deliverAnswers(shared); });
        });
        return;
    }
}

void Coordinator::documentChanged() { ++shared_->document; }

std::string Coordinator::answerScript(std::string_view resolveFunction, std::string_view jsonText) {
    // The guard drops an answer for a page that lacks the function instead of raising an error.
    const std::string function = "window." + std::string(resolveFunction);
    return function + " && " + function + "(" + escapeLineTerminatorsForScript(jsonText) + ")";
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
