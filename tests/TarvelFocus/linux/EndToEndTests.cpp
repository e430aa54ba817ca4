// The real tarvel-focus against real windows under a window manager (run through tests/with-display
// --wm): that the command reaches the window manager, the desktop entries and GIO as the rules say.
// The rules themselves are covered with fakes in tests/TarvelFocus. Stand-in applications are
// focus-test-window processes; desktop entries come from a scratch XDG data path.
#include "Platform/ChildProcess.h"
#include "TestFiles.h"

// Before Xlib, whose None macro clashes with GoogleTest's internals.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvel_focus::testing {
namespace {

using namespace std::chrono_literals;
using tarvel::test::desktopEntry;
using tarvel::test::TemporaryDirectory;
using tarvel::test::writeFile;

// A focus-test-window process and the windows it opened, ended with the suite.
struct StandIn {
    pid_t pid = 0;
    std::vector<Window> windows;
};

StandIn startStandIn(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TEST_WINDOW_PATH);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    StandIn standIn;
    const bool started = posix_spawn(&standIn.pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (!started) {
        close(pipeEnds[0]);
        return {};
    }
    FILE* output = fdopen(pipeEnds[0], "r");
    const auto count = std::find(arguments.begin(), arguments.end(), "--windows");
    const std::size_t expected = count == arguments.end() ? 1 : std::stoul(*(count + 1));
    unsigned long id = 0;
    while (standIn.windows.size() < expected && std::fscanf(output, "%lx", &id) == 1) standIn.windows.push_back(id);
    std::fclose(output);
    return standIn;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        data = new TemporaryDirectory;
        const auto entries = *data / "home/applications";
        writeFile(entries / "org.example.Alpha.desktop", desktopEntry("Alpha", "StartupWMClass=AlphaWin\n"));
        writeFile(entries / "org.example.Gamma.desktop", desktopEntry("Gamma"));
        writeFile(entries / "org.example.Delta.desktop", desktopEntry("Delta"));
        writeFile(entries / "org.example.Cafe.desktop", desktopEntry("Caf\u00e9", "StartupWMClass=CafeWin\n"));
        setenv("XDG_DATA_HOME", (*data / "home").c_str(), 1);
        setenv("XDG_DATA_DIRS", (*data / "system").c_str(), 1);
        unsetenv("LANGUAGE");

        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "needs an X display (tests/with-display --wm)";

        // The order of starting is the order of the window manager's client list.
        standIns["neutral"] = startStandIn({"--instance", "neutral", "--class", "Neutral"});
        standIns["twin1"] = startStandIn({"--instance", "twin", "--class", "Twin"});
        standIns["beta"] = startStandIn({"--instance", "beta", "--class", "Beta", "--title", "Beta window"});
        standIns["alpha"] = startStandIn({"--instance", "alphawin", "--class", "AlphaWin", "--windows", "2"});
        standIns["gamma"] = startStandIn(
            {"--instance", "gamma", "--class", "Gamma", "--gtk-application-id", "org.example.Gamma"});
        standIns["delta"] = startStandIn({"--instance", "delta", "--class", "org.example.Delta"});
        standIns["twin2"] = startStandIn({"--instance", "twin", "--class", "Twin"});
        standIns["tray"] = startStandIn({"--instance", "tray", "--class", "Tray", "--skip-taskbar"});
        standIns["dialog"] = startStandIn({"--instance", "dlg", "--class", "Dlg", "--type", "dialog"});
        standIns["cafe"] = startStandIn({"--instance", "cafewin", "--class", "CafeWin"});
        // Without a pid, windows of one class are one application, regular through its normal window.
        standIns["looseDialog"] = startStandIn({"--instance", "loose", "--class", "Loose", "--no-pid", "--type", "dialog"});
        standIns["looseNormal"] = startStandIn({"--instance", "loose", "--class", "Loose", "--no-pid"});
        for (const auto& [label, standIn] : standIns) {
            ASSERT_FALSE(standIn.windows.empty()) << label;
            for (const Window window : standIn.windows)
                ASSERT_TRUE(tarvel::test::eventually([&] { return inClientList(window); })) << label << " never managed";
        }
    }

    static void TearDownTestSuite() {
        for (const auto& [label, standIn] : standIns) {
            if (standIn.pid <= 0) continue;
            kill(standIn.pid, SIGTERM);
            waitpid(standIn.pid, nullptr, 0);
        }
        standIns.clear();
        if (display) XCloseDisplay(display);
        display = nullptr;
        delete data;
        data = nullptr;
    }

    // Every case starts with the neutral window in front, so that a change is the command's doing.
    void SetUp() override {
        activate(window("neutral"));
        ASSERT_TRUE(tarvel::test::eventually([&] { return activeWindow() == window("neutral"); })) << "could not focus the neutral window";
    }

    static std::vector<Window> rootWindows(const char* property) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::vector<Window> windows;
        if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, property, False), 0, 4096,
                               False, XA_WINDOW, &type, &format, &count, &remaining, &data) == Success &&
            data) {
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            windows.assign(items, items + count);
            XFree(data);
        }
        return windows;
    }
    static bool inClientList(Window window) {
        const auto list = rootWindows("_NET_CLIENT_LIST");
        return std::find(list.begin(), list.end(), window) != list.end();
    }
    static Window activeWindow() {
        const auto active = rootWindows("_NET_ACTIVE_WINDOW");
        return active.empty() ? None : active.front();
    }
    static void activate(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
        XSync(display, False);
    }
    static Window window(const std::string& label, std::size_t index = 0) { return standIns.at(label).windows.at(index); }
    static Window topOfStack(std::size_t below = 0) {
        const auto stacking = rootWindows("_NET_CLIENT_LIST_STACKING");  // bottom to top
        return stacking.size() > below ? stacking[stacking.size() - 1 - below] : None;
    }

    // Runs the command, which must print nothing, and returns its exit status.
    static int focus(std::vector<std::string> arguments) {
        auto run = tarvel::runChildProcess({.executable = TARVEL_FOCUS_PATH, .arguments = std::move(arguments)});
        if (!run) {
            ADD_FAILURE() << run.error().description;
            return -1;
        }
        EXPECT_EQ(run->standardOutput + run->standardError, "");
        return run->exitedNormally ? run->terminationStatus : 128 + run->terminationStatus;
    }
    // Checks a run that should bring `label`'s first window to the front, starting from the neutral one.
    void expectFocuses(const std::vector<std::string>& arguments, const std::string& label) {
        SetUp();
        EXPECT_EQ(focus(arguments), 0);
        EXPECT_TRUE(tarvel::test::eventually([&] { return activeWindow() == window(label); }))
            << label << " is not active; active is 0x" << std::hex << activeWindow();
    }
    // Checks a run that should fail and leave the neutral window in front.
    static void expectFails(const std::vector<std::string>& arguments) {
        EXPECT_EQ(focus(arguments), 1);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(activeWindow(), window("neutral"));
    }

    static inline TemporaryDirectory* data = nullptr;
    static inline Display* display = nullptr;
    static inline std::map<std::string, StandIn> standIns;
};

// Which of name and identifier wins is the core's rule; here, what names and identifies a window.
TEST_F(EndToEnd, FocusesByTheNameAndIdentifierThatTheDesktopEntryOrTheWindowGives) {
    expectFocuses({"--name", "Beta"}, "beta");        // no entry: the window class
    expectFocuses({"--name", "Alpha"}, "alpha");      // the entry matched by StartupWMClass
    expectFocuses({"--name", "Gamma"}, "gamma");      // the entry matched by the GTK application id
    expectFocuses({"--name", "Delta"}, "delta");      // the entry matched by the window class as id
    expectFocuses({"--name", "Cafe\u0301"}, "cafe");  // canonically equal to the entry's name
    expectFocuses({"--name", "Twin"}, "twin1");       // the first in the client list
    expectFocuses({"--bundle-id", "org.example.Alpha"}, "alpha");  // the entry's id
    expectFocuses({"--bundle-id", "Beta"}, "beta");                // no entry: the window class
}

TEST_F(EndToEnd, RaisesEveryWindowOfTheApplicationFirstOnTop) {
    expectFocuses({"--bundle-id", "org.example.Alpha"}, "alpha");
    EXPECT_EQ(topOfStack(0), window("alpha", 0));
    EXPECT_EQ(topOfStack(1), window("alpha", 1));
    // Windows without a pid belong together by class.
    expectFocuses({"--bundle-id", "Loose"}, "looseDialog");  // first in the client list, raised last
    EXPECT_EQ(topOfStack(1), window("looseNormal"));
}

TEST_F(EndToEnd, FailsWithNothingRegularToFocusOrOpen) {
    expectFails({"--name", "Nope"});
    expectFails({"--name", "Tray"});       // not in the task bar
    expectFails({"--bundle-id", "Dlg"});   // no normal window
    TemporaryDirectory folder;             // GIO cannot open it: the completion reports the failure
    expectFails({"--name", "Nope", "--fallback", writeFile(folder / "notes.txt", "plain text").string()});
}

TEST_F(EndToEnd, LinksThatLoopInTheApplicationFoldersEndTheSearchQuickly) {
    // An application folder with links that lead back: two to the folder itself, one from below to
    // above it. (Only for this case: GIO, which opens fallbacks, walks such links without end.)
    TemporaryDirectory loops;
    const auto folder = loops / "applications";
    writeFile(folder / "sub/org.example.Sub.desktop", desktopEntry("Sub"));
    std::filesystem::create_directory_symlink(".", folder / "s1");
    std::filesystem::create_directory_symlink(".", folder / "s2");
    std::filesystem::create_directory_symlink("..", folder / "sub/up");
    const std::string dataDirs = std::getenv("XDG_DATA_DIRS");
    setenv("XDG_DATA_DIRS", (dataDirs + ":" + loops.path().string()).c_str(), 1);

    // Both a search that matches through an entry and one that walks every entry end in time.
    const auto started = std::chrono::steady_clock::now();
    expectFocuses({"--name", "Alpha"}, "alpha");
    SetUp();
    expectFails({"--name", "Nothing Of That Name"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    setenv("XDG_DATA_DIRS", dataDirs.c_str(), 1);
}

TEST_F(EndToEnd, AFallbackPathIsOpenedAsWrittenPercentSignsAndAll) {
    TemporaryDirectory folder;
    const auto ran = folder / "ran", decoyRan = folder / "decoy-ran";
    const auto program = tarvel::test::writeTool(folder / "x%fy", "touch '" + ran.string() + "'");
    tarvel::test::writeTool(folder / "xy", "touch '" + decoyRan.string() + "'");  // where "%f" expanded would lead
    EXPECT_EQ(focus({"--name", "Nope", "--fallback", program.string()}), 0);
    EXPECT_TRUE(tarvel::test::eventually([&] { return std::filesystem::exists(ran); }));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(std::filesystem::exists(decoyRan));
}

} // namespace
} // namespace tarvel_focus::testing
