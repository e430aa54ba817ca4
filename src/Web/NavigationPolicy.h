#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

// What the view does with a navigation. Only the editor's own documents are ever shown; a page
// loaded from anywhere else would get the bridge, and with it karabiner.json.
enum class NavigationDecision {
    allow,
    cancel,
    openInBrowser,  // a web link the user clicked: the default browser shows it, the view stays
    download,       // the page's own export (a blob link with a download attribute)
};

struct NavigationRequest {
    std::string_view url;
    bool mainFrame = true;
    bool userActivated = false;  // a click on a link, not a script or a redirect
    bool wantsDownload = false;  // the engine marked it as a download (the link's download attribute)
};

NavigationDecision decideNavigation(const NavigationRequest& request);

// True for documents of the editor: "tarvelresource://local/...". Messages from any other
// document are ignored.
bool isEditorDocument(std::string_view url);

// The web process that draws the page can die (a crash, memory pressure). The first death reloads
// the page, which then tells the user that an unsaved change may need to be redone; a second one
// within a minute shows a notice instead, so that a page that kills its process cannot loop.
class WebProcessRecovery {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds loopWindow{60};

    enum class Action { reload, showNotice };
    Action webProcessTerminated(Clock::time_point now);

private:
    std::optional<Clock::time_point> lastReload_;
};

} // namespace tarvel
