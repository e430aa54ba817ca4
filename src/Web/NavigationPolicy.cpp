#include "Web/NavigationPolicy.h"

#include <algorithm>
#include <cctype>

#include "Web/KeymapWebView.h"

namespace tarvel {

namespace {

// The scheme, lower-cased, or empty when the text has none.
std::string schemeOf(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    std::string scheme(url.substr(0, colon));
    for (char c : scheme)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return {};
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    return scheme;
}

} // namespace

bool isEditorDocument(std::string_view url) {
    if (schemeOf(url) != KeymapWebView::schemeName) return false;
    std::string_view rest = url.substr(KeymapWebView::schemeName.size() + 1);
    constexpr std::string_view authority = "//local";
    if (rest.substr(0, authority.size()) != authority) return false;
    rest.remove_prefix(authority.size());
    // The host ends at the path, query or fragment; "//localhost" or "//local.evil" are other hosts.
    return rest.empty() || rest.front() == '/' || rest.front() == '?' || rest.front() == '#';
}

NavigationDecision decideNavigation(const NavigationRequest& request) {
    const std::string scheme = schemeOf(request.url);
    if (request.wantsDownload)
        return scheme == "blob" || isEditorDocument(request.url) ? NavigationDecision::download : NavigationDecision::cancel;
    if (isEditorDocument(request.url)) return NavigationDecision::allow;
    // Frames the page makes for itself; never in place of the page.
    if (!request.mainFrame && (scheme == "about" || scheme == "blob")) return NavigationDecision::allow;
    if ((scheme == "http" || scheme == "https") && request.userActivated) return NavigationDecision::openInBrowser;
    return NavigationDecision::cancel;
}

WebProcessRecovery::Action WebProcessRecovery::webProcessTerminated(Clock::time_point now) {
    if (lastReload_ && now - *lastReload_ < loopWindow) return Action::showNotice;
    lastReload_ = now;
    return Action::reload;
}

} // namespace tarvel
