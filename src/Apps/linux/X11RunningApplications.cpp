#include "Apps/linux/X11RunningApplications.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gio/gdesktopappinfo.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/GLibPointers.h"
#include "Apps/linux/WindowApplications.h"

namespace tarvel {

namespace {

struct CloseDisplay {
    void operator()(Display* display) const noexcept { XCloseDisplay(display); }
};
struct XFreeData {
    void operator()(void* data) const noexcept {
        if (data) XFree(data);
    }
};

// A window may be destroyed between the client list and the reading of its properties; the errors
// that follow must not reach Xlib's default handler, which ends the process. The previous handler
// (GDK's, in the application) comes back before this returns.
class IgnoreXErrors {
public:
    explicit IgnoreXErrors(Display* display) : display_(display), previous_(XSetErrorHandler(ignore)) {}
    ~IgnoreXErrors() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    IgnoreXErrors(const IgnoreXErrors&) = delete;
    IgnoreXErrors& operator=(const IgnoreXErrors&) = delete;

private:
    static int ignore(Display*, XErrorEvent*) { return 0; }
    Display* display_;
    XErrorHandler previous_;
};

// Longest property read, in 32-bit units (a window icon of several sizes fits well).
constexpr long maximumPropertyLength = 4 * 1024 * 1024;

struct Atoms {
    explicit Atoms(Display* d)
        : clientList(XInternAtom(d, "_NET_CLIENT_LIST", False)),
          pid(XInternAtom(d, "_NET_WM_PID", False)),
          windowType(XInternAtom(d, "_NET_WM_WINDOW_TYPE", False)),
          normal(XInternAtom(d, "_NET_WM_WINDOW_TYPE_NORMAL", False)),
          state(XInternAtom(d, "_NET_WM_STATE", False)),
          skipTaskbar(XInternAtom(d, "_NET_WM_STATE_SKIP_TASKBAR", False)),
          gtkApplicationId(XInternAtom(d, "_GTK_APPLICATION_ID", False)),
          icon(XInternAtom(d, "_NET_WM_ICON", False)),
          utf8String(XInternAtom(d, "UTF8_STRING", False)) {}
    Atom clientList, pid, windowType, normal, state, skipTaskbar, gtkApplicationId, icon, utf8String;
};

// A property's raw data when it has the expected type and format; none otherwise.
std::unique_ptr<unsigned char, XFreeData> property(Display* d, Window w, Atom name, Atom type, int format,
                                                   unsigned long& count) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    count = 0;
    if (XGetWindowProperty(d, w, name, 0, maximumPropertyLength, False, type, &actualType, &actualFormat, &count, &after,
                           &raw) != Success)
        return nullptr;
    std::unique_ptr<unsigned char, XFreeData> data(raw);
    if (actualType != type || actualFormat != format) return nullptr;
    return data;
}

// A 32-bit property (Xlib hands over one long a value).
std::optional<std::vector<unsigned long>> longs(Display* d, Window w, Atom name, Atom type) {
    unsigned long count = 0;
    auto data = property(d, w, name, type, 32, count);
    if (!data) return std::nullopt;
    const auto* values = reinterpret_cast<const unsigned long*>(data.get());
    return std::vector<unsigned long>(values, values + count);
}

std::optional<std::string> utf8(Display* d, Window w, Atom name, Atom type) {
    unsigned long count = 0;
    auto data = property(d, w, name, type, 8, count);
    if (!data) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(data.get()), count);
}

// WM_CLASS is Latin-1 by the book, UTF-8 in practice: UTF-8 is kept, anything else read as
// Latin-1, so that no window can put text into the payload that JSON cannot carry.
std::string classText(const char* text) {
    if (g_utf8_validate(text, -1, nullptr)) return text;
    GCharPtr converted(g_convert(text, -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr));
    return converted ? converted.get() : std::string();
}

bool holds(const std::optional<std::vector<unsigned long>>& atoms, Atom atom) {
    return atoms && std::find(atoms->begin(), atoms->end(), atom) != atoms->end();
}

WindowFacts readWindow(Display* d, Window w, const Atoms& atoms) {
    WindowFacts facts;
    if (auto pid = longs(d, w, atoms.pid, XA_CARDINAL); pid && !pid->empty() && (*pid)[0] != 0)
        facts.pid = static_cast<std::uint32_t>((*pid)[0]);
    XClassHint hint{};
    if (XGetClassHint(d, w, &hint)) {
        if (hint.res_name) facts.classInstance = classText(hint.res_name);
        if (hint.res_class) facts.className = classText(hint.res_class);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    facts.gtkApplicationId = utf8(d, w, atoms.gtkApplicationId, atoms.utf8String);
    facts.clientMachine = utf8(d, w, XA_WM_CLIENT_MACHINE, XA_STRING);
    if (facts.gtkApplicationId && !g_utf8_validate(facts.gtkApplicationId->data(), static_cast<gssize>(facts.gtkApplicationId->size()), nullptr)) facts.gtkApplicationId.reset();
    auto types = longs(d, w, atoms.windowType, XA_ATOM);
    facts.normalType = !types || types->empty() || holds(types, atoms.normal);
    facts.skipsTaskbar = holds(longs(d, w, atoms.state, XA_ATOM), atoms.skipTaskbar);
    return facts;
}

// The window's own icon (_NET_WM_ICON: width, height, then ARGB rows, for each size): the smallest
// that is at least `side` wide or high, else the largest.
IconImagePtr windowIcon(Display* d, Window w, const Atoms& atoms, int side) {
    auto data = longs(d, w, atoms.icon, XA_CARDINAL);
    if (!data) return nullptr;
    std::size_t best = 0, bestWidth = 0, bestHeight = 0;
    for (std::size_t at = 0; at + 2 <= data->size();) {
        const unsigned long width = (*data)[at], height = (*data)[at + 1];
        if (width == 0 || height == 0 || width > 4096 || height > 4096 || width * height > data->size() - at - 2) break;
        const bool large = static_cast<int>(std::max(width, height)) >= side;
        const bool bestLarge = static_cast<int>(std::max(bestWidth, bestHeight)) >= side;
        const bool better = bestWidth == 0 || (large && (!bestLarge || width * height < bestWidth * bestHeight)) ||
                            (!large && !bestLarge && width * height > bestWidth * bestHeight);
        if (better) {
            best = at + 2;
            bestWidth = width;
            bestHeight = height;
        }
        at += 2 + width * height;
    }
    if (bestWidth == 0) return nullptr;
    auto pixbuf = adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, static_cast<int>(bestWidth), static_cast<int>(bestHeight)));
    if (!pixbuf) return nullptr;
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    for (std::size_t y = 0; y < bestHeight; ++y) {
        guchar* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        for (std::size_t x = 0; x < bestWidth; ++x) {
            const unsigned long argb = (*data)[best + y * bestWidth + x];
            row[x * 4 + 0] = static_cast<guchar>((argb >> 16) & 0xFF);
            row[x * 4 + 1] = static_cast<guchar>((argb >> 8) & 0xFF);
            row[x * 4 + 2] = static_cast<guchar>(argb & 0xFF);
            row[x * 4 + 3] = static_cast<guchar>((argb >> 24) & 0xFF);
        }
    }
    return std::make_shared<IconPixels>(std::move(pixbuf));
}

// Every application entry of the session (GIO's view of the XDG folders, Hidden ones left out),
// ordered by identifier so that ties resolve the same way each time.
struct Entries {
    std::vector<EntryKeys> keys;
    std::vector<GObjectPtr<GDesktopAppInfo>> infos;
};

Entries loadEntries() {
    std::vector<std::pair<EntryKeys, GObjectPtr<GDesktopAppInfo>>> loaded;
    GList* all = g_app_info_get_all();
    for (GList* item = all; item; item = item->next) {
        if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
        auto* info = G_DESKTOP_APP_INFO(item->data);
        EntryKeys keys{DesktopAppCatalog::identifier(info), std::nullopt};
        if (const char* wmClass = g_desktop_app_info_get_startup_wm_class(info)) keys.startupWMClass = wmClass;
        loaded.emplace_back(std::move(keys), retain(info));
    }
    g_list_free_full(all, g_object_unref);
    std::stable_sort(loaded.begin(), loaded.end(),
                     [](const auto& a, const auto& b) { return a.first.identifier < b.first.identifier; });
    Entries entries;
    for (auto& [keys, info] : loaded) {
        entries.keys.push_back(std::move(keys));
        entries.infos.push_back(std::move(info));
    }
    return entries;
}

} // namespace

X11RunningApplications::X11RunningApplications(const IconLookup& icons, std::optional<std::string> ownIdentifier,
                                               std::string displayName)
    : icons_(icons), ownIdentifier_(std::move(ownIdentifier)), displayName_(std::move(displayName)) {}

std::vector<RunningApplication> X11RunningApplications::runningApplications() const {
    std::unique_ptr<Display, CloseDisplay> display(XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str()));
    if (!display) return {};
    Display* d = display.get();
    IgnoreXErrors trap(d);
    const Atoms atoms(d);

    auto clients = longs(d, DefaultRootWindow(d), atoms.clientList, XA_WINDOW);
    if (!clients || clients->empty()) return {};
    std::vector<WindowFacts> windows;
    windows.reserve(clients->size());
    for (unsigned long w : *clients) windows.push_back(readWindow(d, w, atoms));

    const auto applications = groupWindows(windows);
    const Entries entries = loadEntries();
    const int side = static_cast<int>(AppInventory::iconSide);
    const auto ownPid = static_cast<std::uint32_t>(::getpid());
    const std::string hostName = g_get_host_name();

    std::vector<RunningApplication> result;
    for (const WindowApplication& application : applications) {
        const WindowFacts& first = windows[application.windows.front()];
        RunningApplication app;
        app.activationPolicy = application.regular ? RunningApplication::ActivationPolicy::regular
                                                   : RunningApplication::ActivationPolicy::accessory;
        if (auto entry = matchEntry(first, entries.keys)) {
            GDesktopAppInfo* info = entries.infos[*entry].get();
            app.bundleIdentifier = entries.keys[*entry].identifier;
            app.localizedName = DesktopAppCatalog::displayName(info);
            if (const char* file = g_desktop_app_info_get_filename(info); file && g_utf8_validate(file, -1, nullptr))
                app.bundlePath = file;
            if (application.regular) app.icon = icons_.iconFor(g_app_info_get_icon(G_APP_INFO(info)), side);
        } else {
            app.bundleIdentifier = first.className;
            app.localizedName = first.className;
            for (std::size_t index : application.windows) {
                if (!application.regular) break;
                if ((app.icon = windowIcon(d, (*clients)[index], atoms, side))) break;
            }
        }
        if (belongsToProcess(first, ownPid, hostName)) app.bundleIdentifier = ownIdentifier_;
        if (app.bundleIdentifier && app.bundleIdentifier->empty()) app.bundleIdentifier.reset();
        result.push_back(std::move(app));
    }
    return result;
}

} // namespace tarvel
