// Running applications from the window manager's client list, with windows of our own on a fresh
// X display with openbox (run through tests/with-display --wm): that each window property is read.
// How windows group and match entries is covered without a display (WindowApplicationsTests).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "Apps/AppInventory.h"
#include "Apps/linux/InventoryCollector.h"
#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/DesktopIcons.h"
#include "Apps/linux/IcuNameCollation.h"
#include "Apps/linux/ProcessIdentity.h"
#include "Apps/linux/X11RunningApplications.h"
#include "InventoryFakes.h"
#include "XdgTree.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::Rgba;
using testing::XdgTree;
using testing::names;
using ::testing::ElementsAre;

XdgTree* tree = nullptr;

void buildTree(XdgTree& t) {
    const fs::path apps = t.dataHome() / "applications";
    t.entry(apps, "org.example.Editor.desktop", "Editor", "Icon=editor\n");
    t.entry(apps, "decoy.desktop", "Decoy", "StartupWMClass=Editor\n");
    t.entry(apps, "viewer.desktop", "Photo Viewer", "StartupWMClass=PhotoViewer\nIcon=viewer\n");
    t.pngIcon("application-x-executable", 48, 48, [](int, int, int, int) { return Rgba{128, 128, 128, 255}; });
    t.pngIcon("editor", 48, 48, [](int, int, int, int) { return Rgba{255, 0, 0, 255}; });
    t.svgIcon("viewer", R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"><rect width="16" height="16" fill="#0000ff"/></svg>)");
}

struct WindowSetup {
    std::optional<unsigned long> pid;
    std::optional<std::pair<std::string, std::string>> wmClass;
    std::optional<std::string> gtkApplicationId;
    std::optional<std::string> type;  // "_NET_WM_WINDOW_TYPE_..."
    bool skipTaskbar = false;
    std::vector<unsigned long> icon;  // _NET_WM_ICON
    std::optional<std::string> clientMachine;
};

// Windows of this process with the properties a test gives them; closing the connection ends them.
class Windows {
public:
    Windows() : display_(XOpenDisplay(nullptr)) {}
    ~Windows() {
        if (display_) XCloseDisplay(display_);
    }
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

    Display* display() const { return display_; }
    Atom atom(const char* name) const { return XInternAtom(display_, name, False); }

    void open(const WindowSetup& setup) {
        const Window w = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10, 120, 80, 0, 0, 0xFFFFFF);
        auto set = [&](const char* property, Atom type, int format, const void* data, std::size_t count) {
            XChangeProperty(display_, w, atom(property), type, format, PropModeReplace,
                            static_cast<const unsigned char*>(data), static_cast<int>(count));
        };
        const unsigned long type = setup.type ? atom(setup.type->c_str()) : 0, skip = atom("_NET_WM_STATE_SKIP_TASKBAR");
        if (setup.pid) set("_NET_WM_PID", XA_CARDINAL, 32, &*setup.pid, 1);
        if (setup.gtkApplicationId)
            set("_GTK_APPLICATION_ID", atom("UTF8_STRING"), 8, setup.gtkApplicationId->data(), setup.gtkApplicationId->size());
        if (setup.type) set("_NET_WM_WINDOW_TYPE", XA_ATOM, 32, &type, 1);
        if (setup.skipTaskbar) set("_NET_WM_STATE", XA_ATOM, 32, &skip, 1);
        if (setup.clientMachine) set("WM_CLIENT_MACHINE", XA_STRING, 8, setup.clientMachine->data(), setup.clientMachine->size());
        if (!setup.icon.empty()) set("_NET_WM_ICON", XA_CARDINAL, 32, setup.icon.data(), setup.icon.size());
        if (setup.wmClass) {
            XClassHint hint{const_cast<char*>(setup.wmClass->first.c_str()), const_cast<char*>(setup.wmClass->second.c_str())};
            XSetClassHint(display_, w, &hint);
        }
        XMapWindow(display_, w);
        windows_.push_back(w);
    }

    // Until the window manager lists every window opened here.
    bool waitUntilListed() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            XSync(display_, False);
            if (listed() == windows_.size()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    std::size_t listed() const {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, DefaultRootWindow(display_), atom("_NET_CLIENT_LIST"), 0, 4096, False, XA_WINDOW, &type,
                               &format, &count, &after, &data) != Success || !data)
            return 0;
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        std::size_t found = 0;
        for (Window w : windows_) found += std::count(ids, ids + count, w) > 0;
        XFree(data);
        return found;
    }

    Display* display_;
    std::vector<Window> windows_;
};

// A window icon in two sizes; the larger, green one is the one to use at 48.
std::vector<unsigned long> twoSizeIcon() {
    std::vector<unsigned long> icon{16, 16};
    icon.insert(icon.end(), 16 * 16, 0xFFFF0000);
    icon.push_back(64);
    icon.push_back(64);
    icon.insert(icon.end(), 64 * 64, 0xFF00FF00);
    return icon;
}

struct RunningOnDisplay : ::testing::Test {
    static void SetUpTestSuite() {
        windows = new Windows;
        ASSERT_NE(windows->display(), nullptr) << "no X display";
        windows->open({.pid = 101, .wmClass = {{"editor", "Editor"}}, .gtkApplicationId = "org.example.Editor",
                       .type = "_NET_WM_WINDOW_TYPE_NORMAL"});
        windows->open({.pid = 102, .wmClass = {{"viewer", "PhotoViewer"}}});
        windows->open({.pid = 103, .wmClass = {{"tool", "Palette"}}, .type = "_NET_WM_WINDOW_TYPE_UTILITY"});
        windows->open({.pid = 104, .wmClass = {{"skipper", "Skipper"}}, .skipTaskbar = true});
        windows->open({.wmClass = {{"loose", "Loose Window"}}, .icon = twoSizeIcon()});
        windows->open({.pid = 109, .wmClass = {{"caf\xe9", "Caf\xe9 Latin"}}, .gtkApplicationId = "bad\xff"});
        // Our own process on this host; the same pid on another host is not us.
        const auto self = static_cast<unsigned long>(::getpid());
        windows->open({.pid = self, .wmClass = {{"probe", "Our Own Window"}}, .clientMachine = g_get_host_name()});
        windows->open({.pid = self, .wmClass = {{"probe", "Remote Twin"}}, .clientMachine = "elsewhere.example"});
        ASSERT_TRUE(windows->waitUntilListed()) << "the window manager did not list the windows";
    }
    static void TearDownTestSuite() {
        delete windows;
        windows = nullptr;
    }
    static Windows* windows;

    IconLookup icons{tree->iconSearchPath()};
    DesktopAppCatalog catalog{icons, tree->applicationFolders()};
    ProcessIdentity identity;
    X11RunningApplications running{icons, identity.bundleIdentifier()};
    IcuNameCollation collation;
    AppInventory::Services services{catalog, running, collation, identity};
};
Windows* RunningOnDisplay::windows = nullptr;

TEST_F(RunningOnDisplay, ThePlatformListsEveryApplicationInClientListOrderWithItsPolicy) {
    auto apps = running.runningApplications();
    std::vector<std::string> seen;
    for (const auto& app : apps)
        seen.push_back(app.localizedName.value_or("-") + (app.activationPolicy == RunningApplication::ActivationPolicy::regular ? "" : " (accessory)"));
    EXPECT_THAT(seen, ElementsAre("Editor", "Photo Viewer", "Palette (accessory)", "Skipper (accessory)", "Loose Window",
                                  "Café Latin", "Our Own Window", "Remote Twin"));
    ASSERT_EQ(apps.size(), 8u);
    EXPECT_EQ(apps[6].bundleIdentifier, "app.tarvel.Tarvel");  // ours, though no entry says so
    EXPECT_EQ(apps[7].bundleIdentifier, "Remote Twin");
}

TEST_F(RunningOnDisplay, ApplicationsAreMatchedToTheirEntriesWithIcons) {
    auto list = AppInventory::running(services);
    ASSERT_THAT(names(list), ElementsAre("Café Latin", "Editor", "Loose Window", "Photo Viewer", "Remote Twin"));
    const fs::path apps = tree->dataHome() / "applications";

    // A Latin-1 WM_CLASS arrives as UTF-8; an application id that is not UTF-8 is ignored.
    EXPECT_EQ(list[0].bundleId, "Café Latin");
    EXPECT_EQ(list[0].path, std::nullopt);
    // _GTK_APPLICATION_ID comes before a StartupWMClass that also fits.
    EXPECT_EQ(list[1].bundleId, "org.example.Editor");
    EXPECT_EQ(list[1].path, (apps / "org.example.Editor.desktop").string());
    EXPECT_TRUE(list[1].running && list[1].launchable);
    auto editor = testing::decodeDataURI(list[1].icon.value_or(""));
    ASSERT_TRUE(editor);
    EXPECT_EQ(testing::pixelAt(editor.get(), 24, 24), (Rgba{255, 0, 0, 255}));
    // No entry: the WM_CLASS class names it, no path, the window's own icon at the best size.
    EXPECT_EQ(list[2], (AppRecord{.name = "Loose Window", .bundleId = "Loose Window", .icon = list[2].icon, .running = true}));
    auto loose = testing::decodeDataURI(list[2].icon.value_or(""));
    ASSERT_TRUE(loose);
    EXPECT_EQ(gdk_pixbuf_get_width(loose.get()), 48);
    EXPECT_EQ(testing::pixelAt(loose.get(), 0, 0), (Rgba{0, 255, 0, 255}));
    // By StartupWMClass.
    EXPECT_EQ(list[3].bundleId, "viewer");
    EXPECT_EQ(list[3].path, (apps / "viewer.desktop").string());
}

TEST_F(RunningOnDisplay, TheProcessWideXErrorHandlerIsNeverTouched) {
    auto mine = [](Display*, XErrorEvent*) { return 0; };
    XErrorHandler before = XSetErrorHandler(mine);
    (void)running.runningApplications();
    EXPECT_EQ(XSetErrorHandler(before), mine);
}

TEST_F(RunningOnDisplay, TheHostsInventoryIsCollectedOnAnotherThreadThanGtks) {
    // As in the application: GTK initialised on the display, its icon theme, $XDG folders; what the
    // main thread must read is read here, the rest on the worker.
    ASSERT_TRUE(gtk_init_check());
    auto collect = makeInventoryCollector();
    AppInventoryPayload payload;
    std::thread([&] { payload = collect(); }).join();
    EXPECT_THAT(names(payload.running), ElementsAre("Café Latin", "Editor", "Loose Window", "Photo Viewer", "Remote Twin"));
    EXPECT_THAT(names(payload.installed), ElementsAre("Decoy", "Editor", "Photo Viewer"));
    for (const auto& r : payload.installed) EXPECT_TRUE(r.icon && testing::decodeDataURI(*r.icon)) << r.name;
}

} // namespace
} // namespace tarvel

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tarvel::testing::XdgTree tree;
    tree.exportEnvironment();
    tarvel::buildTree(tree);
    tarvel::tree = &tree;
    return RUN_ALL_TESTS();
}
