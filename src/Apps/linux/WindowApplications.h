#pragma once
// Which applications the window manager's client list stands for: the rules by which windows
// make up applications and are matched to desktop entries, apart from reading them off X11.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

// What one top-level window tells about itself.
struct WindowFacts {
    std::optional<std::uint32_t> pid;               // _NET_WM_PID
    std::optional<std::string> classInstance;       // WM_CLASS, first part
    std::optional<std::string> className;           // WM_CLASS, second part
    std::optional<std::string> gtkApplicationId;    // _GTK_APPLICATION_ID
    std::optional<std::string> clientMachine;       // WM_CLIENT_MACHINE
    bool normalType = true;                         // _NET_WM_WINDOW_TYPE absent or holding NORMAL
    bool skipsTaskbar = false;                      // _NET_WM_STATE holding SKIP_TASKBAR

    // A normal window shown in the task bar.
    bool regular() const { return normalType && !skipsTaskbar; }
};

// The windows of one application, in client-list order.
struct WindowApplication {
    std::vector<std::size_t> windows;  // indices into the client list
    bool regular = false;               // at least one of its windows is
};

// Windows belong together when they share pid and WM_CLASS class (by class alone when there is no
// pid). Each application keeps the place of its first window.
std::vector<WindowApplication> groupWindows(const std::vector<WindowFacts>& windows);

// A window of the given process on this machine (no WM_CLIENT_MACHINE counts as this machine).
bool belongsToProcess(const WindowFacts& window, std::uint32_t pid, std::string_view hostName);

// What the matching needs of a desktop entry.
struct EntryKeys {
    std::string identifier;                     // desktop-file id without ".desktop"
    std::optional<std::string> startupWMClass;  // StartupWMClass
};

// The entry of the window's application: the one whose id is its _GTK_APPLICATION_ID; else whose
// StartupWMClass is its WM_CLASS instance or class; else whose id is the instance or class, exactly,
// then ignoring letter case. Within each rule the first entry of `entries` wins.
std::optional<std::size_t> matchEntry(const WindowFacts& window, const std::vector<EntryKeys>& entries);

} // namespace tarvel
