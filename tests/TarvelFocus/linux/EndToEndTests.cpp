// The real tarvel-focus against real windows under a window manager (run through tests/with-display
// --wm). Stand-in applications are focus-test-window processes; desktop entries come from a scratch
// XDG data path.
#include "TempFolder.h"

// Before Xlib, whose None macro clashes with GoogleTest's internals.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvel_focus::testing {
namespace {

using namespace std::chrono_literals;

struct Outcome {
    int status = -1;
    std::string output; // standard output and error together
};

// Runs a program to its end, capturing what it prints. `extraEnvironment` entries are NAME=value.
Outcome runProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment = {}) {
    TempFolder scratch;
    const std::string outputPath = (scratch / "output").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** variable = environ; *variable; ++variable) envp.push_back(*variable);
    for (const auto& variable : extraEnvironment) envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    pid_t pid = 0;
    Outcome outcome;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream file(outputPath);
    outcome.output.assign(std::istreambuf_iterator<char>(file), {});
    return outcome;
}

Outcome focus(std::vector<std::string> arguments, const std::vector<std::string>& extraEnvironment = {}) {
    arguments.insert(arguments.begin(), TARVEL_FOCUS_PATH);
    return runProgram(arguments, extraEnvironment);
}

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
    const int expected = [&] {
        const auto at = std::find(arguments.begin(), arguments.end(), "--windows");
        return at == arguments.end() ? 1 : std::stoi(*(at + 1));
    }();
    unsigned long id = 0;
    while (static_cast<int>(standIn.windows.size()) < expected && std::fscanf(output, "%lx", &id) == 1)
        standIn.windows.push_back(static_cast<Window>(id));
    std::fclose(output);
    return standIn;
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        data = new TempFolder;
        data->write("home/applications/org.example.Alpha.desktop", desktopEntry("Alpha", "StartupWMClass=AlphaWin\n"));
        data->write("home/applications/org.example.Gamma.desktop", desktopEntry("Gamma"));
        data->write("home/applications/org.example.Cafe.desktop",
                    desktopEntry("Caf\u00e9", "Name[ja]=\u30ab\u30d5\u30a7\nStartupWMClass=CafeWin\n"));
        data->write("home/applications/net.java.openjdk.java.desktop", desktopEntry("Java Tool"));
        std::filesystem::create_directories(*data / "system");
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
        standIns["twin2"] = startStandIn({"--instance", "twin", "--class", "Twin"});
        standIns["tray"] = startStandIn({"--instance", "tray", "--class", "Tray", "--skip-taskbar"});
        standIns["dialog"] = startStandIn({"--instance", "dlg", "--class", "Dlg", "--type", "dialog"});
        standIns["cafe"] = startStandIn({"--instance", "cafewin", "--class", "CafeWin"});
        standIns["java"] = startStandIn({"--instance", "java", "--class", "net.java.openjdk.java"});
        // Without a pid, windows of one class are one application, regular through its normal window.
        standIns["looseDialog"] = startStandIn({"--instance", "loose", "--class", "Loose", "--no-pid", "--type", "dialog"});
        standIns["looseNormal"] = startStandIn({"--instance", "loose", "--class", "Loose", "--no-pid"});
        for (const auto& [label, standIn] : standIns) {
            ASSERT_FALSE(standIn.windows.empty()) << label;
            for (const Window window : standIn.windows)
                ASSERT_TRUE(waitFor([&] { return inClientList(window); })) << label << " never managed";
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
        ASSERT_TRUE(waitFor([&] { return activeWindow() == window("neutral"); })) << "could not focus the neutral window";
    }

    static bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 3s) {
        for (auto waited = 0ms; waited < limit; waited += 10ms) {
            if (condition()) return true;
            std::this_thread::sleep_for(10ms);
        }
        return condition();
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

    // Checks a run that should bring `label`'s first window to the front.
    static void expectFocuses(const std::vector<std::string>& arguments, const std::string& label,
                              const std::vector<std::string>& environment = {}) {
        const auto outcome = focus(arguments, environment);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.output, "");
        EXPECT_TRUE(waitFor([&] { return activeWindow() == window(label); }))
            << label << " is not active; active is 0x" << std::hex << activeWindow();
    }
    // Checks a run that should fail and leave the neutral window in front.
    static void expectFails(const std::vector<std::string>& arguments) {
        const auto outcome = focus(arguments);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.output, "");
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(activeWindow(), window("neutral"));
    }

    static inline TempFolder* data = nullptr;
    static inline Display* display = nullptr;
    static inline std::map<std::string, StandIn> standIns;
};

TEST_F(EndToEnd, FocusesByName) {
    expectFocuses({"--name", "Beta"}, "beta");
    expectFocuses({"--name", "Alpha"}, "alpha");   // name from the entry matched by StartupWMClass
    expectFocuses({"--name", "Gamma"}, "gamma");   // entry matched by the GTK application id
    expectFocuses({"--name", "Java Tool"}, "java"); // entry matched by the window class as id
}

TEST_F(EndToEnd, FocusesByIdentifier) {
    expectFocuses({"--bundle-id", "org.example.Alpha"}, "alpha");
    SetUp();
    expectFocuses({"--bundle-id", "org.example.Gamma"}, "gamma");
    SetUp();
    expectFocuses({"--bundle-id", "Beta"}, "beta"); // no entry: the window class
}

TEST_F(EndToEnd, NameWinsOverIdentifier) {
    expectFocuses({"--name", "Beta", "--bundle-id", "org.example.Alpha"}, "beta");
    SetUp();
    expectFocuses({"--bundle-id", "org.example.Alpha", "--name", "Nope"}, "alpha");
}

TEST_F(EndToEnd, FirstOfTwoApplicationsWithTheSameName) {
    expectFocuses({"--name", "Twin"}, "twin1");
    SetUp();
    expectFocuses({"--bundle-id", "Twin"}, "twin1");
}

TEST_F(EndToEnd, RaisesEveryWindowOfTheApplicationFirstOnTop) {
    expectFocuses({"--bundle-id", "org.example.Alpha"}, "alpha");
    const auto stacking = rootWindows("_NET_CLIENT_LIST_STACKING"); // bottom to top
    ASSERT_GE(stacking.size(), 2u);
    EXPECT_EQ(stacking[stacking.size() - 1], window("alpha", 0));
    EXPECT_EQ(stacking[stacking.size() - 2], window("alpha", 1));
}

TEST_F(EndToEnd, WindowsWithoutPidBelongTogetherByClass) {
    expectFocuses({"--bundle-id", "Loose"}, "looseDialog"); // first in the client list, raised last
    const auto stacking = rootWindows("_NET_CLIENT_LIST_STACKING");
    ASSERT_GE(stacking.size(), 2u);
    EXPECT_EQ(stacking[stacking.size() - 2], window("looseNormal"));
}

TEST_F(EndToEnd, MatchesNamesUnderCanonicalEquivalenceAndInTheUsersLanguage) {
    expectFocuses({"--name", "Cafe\u0301"}, "cafe");
    SetUp();
    expectFocuses({"--name", "\u30ab\u30d5\u30a7"}, "cafe", {"LANGUAGE=ja"});
    SetUp();
    expectFails({"--name", "Cafe"});
}

TEST_F(EndToEnd, AccessoryApplicationsAreNeverFocused) {
    expectFails({"--bundle-id", "Tray"});
    expectFails({"--name", "Tray"});
    expectFails({"--name", "Dlg", "--bundle-id", "Dlg"});
}

TEST_F(EndToEnd, JavaRuntimeIdentifierNeedsTheName) {
    expectFails({"--bundle-id", "net.java.openjdk.java"});
    expectFocuses({"--name", "Java Tool", "--bundle-id", "net.java.openjdk.java"}, "java");
}

TEST_F(EndToEnd, FailsWithNothingToFocusOrOpen) {
    expectFails({});
    expectFails({"--name", "Nope"});
    expectFails({"--name", "", "--bundle-id", ""});
    expectFails({"--name", "Nope", "--fallback"});
    expectFails({"--name", "beta"});
}

TEST_F(EndToEnd, FallbackThatCannotBeOpenedFails) {
    TempFolder folder;
    expectFails({"--name", "Nope", "--fallback", (folder / "Missing.desktop").string()});
    expectFails({"--name", "Nope", "--fallback", folder.write("notes.txt", "plain text").string()});
    expectFails({"--fallback", folder.write("Broken.desktop", desktopEntry("Broken", "", "/nonexistent/app")).string()});
    expectFails({"--fallback", folder.path().string()});
}

TEST_F(EndToEnd, OpensTheFallbackWhenNothingRuns) {
    TempFolder folder;
    const auto marker = folder / "launched";
    const auto entry = folder.write("Launcher.desktop", desktopEntry("Launcher", "", "touch " + marker.string()));
    const auto outcome = focus({"--name", "Nope", "--bundle-id", "org.example.Nope", "--fallback", entry.string()});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, "");
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(marker); }));

    // A running application is focused, never opened a second time.
    const auto unused = folder / "unused";
    const auto other = folder.write("Other.desktop", desktopEntry("Other", "", "touch " + unused.string()));
    expectFocuses({"--name", "Beta", "--fallback", other.string()}, "beta");
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(std::filesystem::exists(unused));
}

} // namespace
} // namespace tarvel_focus::testing
