#include <gtest/gtest.h>

#include "Web/NavigationPolicy.h"

namespace tarvel {
namespace {

using enum NavigationDecision;

TEST(NavigationPolicy, OnlyTheEditorsOwnDocumentsAreShown) {
    const struct {
        std::string_view url;
        bool mainFrame, userActivated, wantsDownload;
        NavigationDecision expected;
    } cases[] = {
        {"tarvelresource://local/index.html", true, false, false, allow},
        {"tarvelresource://local/index.html?recovered=1", true, false, false, allow},
        {"TarvelResource://local/assets/app.js", false, false, false, allow},
        {"tarvelresource://local", true, false, false, allow},
        {"tarvelresource://localhost/index.html", true, false, false, cancel},
        {"tarvelresource://local.evil/index.html", true, false, false, cancel},
        {"tarvelresource://evil/index.html", true, false, false, cancel},
        {"file:///tmp/evil.html", true, true, false, cancel},
        {"file:///tmp/evil.html", false, false, false, cancel},
        {"data:text/html,<script>1</script>", true, true, false, cancel},
        {"javascript:alert(1)", true, true, false, cancel},
        {"about:blank", true, false, false, cancel},
        {"about:blank", false, false, false, allow},
        {"blob:tarvelresource://local/1234", true, false, false, cancel},
        {"blob:tarvelresource://local/1234", false, false, false, allow},
        {"https://karabiner-elements.pqrs.org/", true, true, false, openInBrowser},
        {"HTTP://example.com/", false, true, false, openInBrowser},
        {"https://example.com/", true, false, false, cancel},
        {"ftp://example.com/", true, true, false, cancel},
        {"blob:tarvelresource://local/1234", true, true, true, download},
        {"tarvelresource://local/keymap.json", true, true, true, download},
        {"https://example.com/x.json", true, true, true, cancel},
        {"file:///etc/passwd", true, true, true, cancel},
        {"", true, true, false, cancel},
        {"no scheme at all", true, true, false, cancel},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decideNavigation({c.url, c.mainFrame, c.userActivated, c.wantsDownload}), c.expected)
            << c.url << " main=" << c.mainFrame << " user=" << c.userActivated << " download=" << c.wantsDownload;
    }
}

TEST(NavigationPolicy, ASecondWebProcessDeathWithinAMinuteShowsTheNotice) {
    using Clock = WebProcessRecovery::Clock;
    using namespace std::chrono_literals;
    WebProcessRecovery recovery;
    const auto start = Clock::time_point{} + 1h;
    EXPECT_EQ(recovery.webProcessTerminated(start), WebProcessRecovery::Action::reload);
    EXPECT_EQ(recovery.webProcessTerminated(start + 59s), WebProcessRecovery::Action::showNotice);
    EXPECT_EQ(recovery.webProcessTerminated(start + 61s), WebProcessRecovery::Action::reload);
    EXPECT_EQ(recovery.webProcessTerminated(start + 61s + 30s), WebProcessRecovery::Action::showNotice);
}

} // namespace
} // namespace tarvel
