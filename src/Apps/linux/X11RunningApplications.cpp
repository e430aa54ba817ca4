#include "Apps/linux/X11RunningApplications.h"

#include <xcb/xcb.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/DesktopEntryFile.h"
#include "Apps/linux/GLibPointers.h"
#include "Apps/linux/WindowApplications.h"

namespace tarvel {

namespace {

// XCB rather than Xlib: a connection of its own and errors answered per request, with no process-wide
// error handler to take from GDK, so that this can run on a thread other than GTK's. A window that
// is destroyed between the client list and the reading of its properties just has none.
struct Disconnect {
    void operator()(xcb_connection_t* connection) const noexcept { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;
struct FreeReply {
    void operator()(void* reply) const noexcept { std::free(reply); }
};
using PropertyReply = std::unique_ptr<xcb_get_property_reply_t, FreeReply>;

// Longest property read, in 32-bit units (a window icon of several sizes fits well).
constexpr uint32_t maximumPropertyLength = 4 * 1024 * 1024;

struct Atoms {
    xcb_atom_t clientList, pid, windowType, normal, state, skipTaskbar, gtkApplicationId, icon, utf8String;

    explicit Atoms(xcb_connection_t* c) {
        const char* names[] = {"_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
                               "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_GTK_APPLICATION_ID", "_NET_WM_ICON",
                               "UTF8_STRING"};
        xcb_atom_t* slots[] = {&clientList, &pid, &windowType, &normal, &state, &skipTaskbar, &gtkApplicationId, &icon, &utf8String};
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (std::size_t i = 0; i < std::size(names); ++i)
            cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
        for (std::size_t i = 0; i < std::size(names); ++i) {
            std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(xcb_intern_atom_reply(c, cookies[i], nullptr));
            *slots[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        }
    }
};

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t name, xcb_atom_t type) {
    return xcb_get_property(c, 0, w, name, type, 0, maximumPropertyLength);
}

// The answer to an earlier question, when it has the expected type and format.
PropertyReply reply(xcb_connection_t* c, xcb_get_property_cookie_t cookie, xcb_atom_t type, uint8_t format) {
    xcb_generic_error_t* error = nullptr;
    PropertyReply answer(xcb_get_property_reply(c, cookie, &error));
    std::free(error);
    if (!answer || answer->type != type || answer->format != format) return nullptr;
    return answer;
}

std::optional<std::vector<uint32_t>> values(const PropertyReply& answer) {
    if (!answer) return std::nullopt;
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(answer.get()));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(answer.get()) / 4);
}

std::optional<std::string> text(const PropertyReply& answer) {
    if (!answer) return std::nullopt;
    return std::string(static_cast<const char*>(xcb_get_property_value(answer.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(answer.get())));
}

// WM_CLASS is Latin-1 by the book, UTF-8 in practice: UTF-8 is kept, anything else read as
// Latin-1, so that no window can put text into the payload that JSON cannot carry.
std::string classText(const std::string& text) {
    if (g_utf8_validate(text.c_str(), -1, nullptr)) return text;
    GCharPtr converted(g_convert(text.c_str(), -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr));
    return converted ? converted.get() : std::string();
}

bool holds(const std::optional<std::vector<uint32_t>>& atoms, xcb_atom_t atom) {
    return atoms && std::find(atoms->begin(), atoms->end(), atom) != atoms->end();
}

// Every window's properties are asked for before the first answer is read: two round trips to the
// X server in all, whatever the number of windows.
std::vector<WindowFacts> readWindows(xcb_connection_t* c, const std::vector<uint32_t>& clients, const Atoms& atoms) {
    struct Questions {
        xcb_get_property_cookie_t pid, wmClass, gtkApplicationId, clientMachine, windowType, state;
    };
    std::vector<Questions> questions;
    questions.reserve(clients.size());
    for (uint32_t w : clients)
        questions.push_back({askProperty(c, w, atoms.pid, XCB_ATOM_CARDINAL), askProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING),
                             askProperty(c, w, atoms.gtkApplicationId, atoms.utf8String),
                             askProperty(c, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING),
                             askProperty(c, w, atoms.windowType, XCB_ATOM_ATOM), askProperty(c, w, atoms.state, XCB_ATOM_ATOM)});
    std::vector<WindowFacts> windows;
    windows.reserve(clients.size());
    for (const Questions& q : questions) {
        WindowFacts facts;
        if (auto pid = values(reply(c, q.pid, XCB_ATOM_CARDINAL, 32)); pid && !pid->empty() && (*pid)[0] != 0) facts.pid = (*pid)[0];
        // "instance\0class\0"
        if (auto wmClass = text(reply(c, q.wmClass, XCB_ATOM_STRING, 8))) {
            const std::string instance = wmClass->substr(0, wmClass->find('\0'));
            facts.classInstance = classText(instance);
            if (instance.size() < wmClass->size()) {
                const std::string rest = wmClass->substr(instance.size() + 1);
                facts.className = classText(rest.substr(0, rest.find('\0')));
            }
        }
        facts.gtkApplicationId = text(reply(c, q.gtkApplicationId, atoms.utf8String, 8));
        if (facts.gtkApplicationId && !g_utf8_validate(facts.gtkApplicationId->data(), static_cast<gssize>(facts.gtkApplicationId->size()), nullptr))
            facts.gtkApplicationId.reset();
        facts.clientMachine = text(reply(c, q.clientMachine, XCB_ATOM_STRING, 8));
        auto types = values(reply(c, q.windowType, XCB_ATOM_ATOM, 32));
        facts.normalType = !types || types->empty() || holds(types, atoms.normal);
        facts.skipsTaskbar = holds(values(reply(c, q.state, XCB_ATOM_ATOM, 32)), atoms.skipTaskbar);
        windows.push_back(std::move(facts));
    }
    return windows;
}

// The window's own icon (_NET_WM_ICON: width, height, then ARGB rows, for each size): the smallest
// that is at least `side` wide or high, else the largest.
IconImagePtr windowIcon(xcb_connection_t* c, xcb_window_t w, const Atoms& atoms, int side) {
    auto data = values(reply(c, askProperty(c, w, atoms.icon, XCB_ATOM_CARDINAL), XCB_ATOM_CARDINAL, 32));
    if (!data) return nullptr;
    std::size_t best = 0, bestWidth = 0, bestHeight = 0;
    for (std::size_t at = 0; at + 2 <= data->size();) {
        const std::size_t width = (*data)[at], height = (*data)[at + 1];
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
            const uint32_t argb = (*data)[best + y * bestWidth + x];
            row[x * 4 + 0] = static_cast<guchar>((argb >> 16) & 0xFF);
            row[x * 4 + 1] = static_cast<guchar>((argb >> 8) & 0xFF);
            row[x * 4 + 2] = static_cast<guchar>(argb & 0xFF);
            row[x * 4 + 3] = static_cast<guchar>((argb >> 24) & 0xFF);
        }
    }
    return std::make_shared<IconPixels>(std::move(pixbuf));
}

// Every application entry of the session (the XDG folders as the desktop sees them, Hidden ones
// left out), ordered by identifier so that ties resolve the same way each time.
struct Entries {
    std::vector<EntryKeys> keys;
    std::vector<DesktopEntryFile> files;
};

Entries loadEntries() {
    Entries entries;
    for (auto& [id, path] : desktopEntryFiles(DesktopAppCatalog::xdgApplicationFolders())) {
        auto entry = DesktopEntryFile::read(path);
        if (!entry || entry->hidden) continue;
        entries.keys.push_back({id, entry->startupWMClass});
        entries.files.push_back(std::move(*entry));
    }
    return entries;
}

} // namespace

X11RunningApplications::X11RunningApplications(const IconLookup& icons, std::optional<std::string> ownIdentifier,
                                               std::string displayName)
    : icons_(icons), ownIdentifier_(std::move(ownIdentifier)), displayName_(std::move(displayName)) {}

std::vector<RunningApplication> X11RunningApplications::runningApplications() const {
    int screenNumber = 0;
    Connection connection(xcb_connect(displayName_.empty() ? nullptr : displayName_.c_str(), &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get())) return {};
    xcb_connection_t* c = connection.get();
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) return {};
    const Atoms atoms(c);

    auto clients = values(reply(c, askProperty(c, screens.data->root, atoms.clientList, XCB_ATOM_WINDOW), XCB_ATOM_WINDOW, 32));
    if (!clients || clients->empty()) return {};
    const std::vector<WindowFacts> windows = readWindows(c, *clients, atoms);

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
            const DesktopEntryFile& file = entries.files[*entry];
            app.bundleIdentifier = entries.keys[*entry].identifier;
            app.localizedName = file.name.empty() ? entries.keys[*entry].identifier : file.name;
            if (const std::string path = file.path.string(); g_utf8_validate(path.c_str(), -1, nullptr)) app.bundlePath = path;
            if (application.regular) app.icon = icons_.iconFor(file.icon.get(), side);
        } else {
            app.bundleIdentifier = first.className;
            app.localizedName = first.className;
            for (std::size_t index : application.windows) {
                if (!application.regular) break;
                if ((app.icon = windowIcon(c, (*clients)[index], atoms, side))) break;
            }
        }
        if (belongsToProcess(first, ownPid, hostName)) app.bundleIdentifier = ownIdentifier_;
        if (app.bundleIdentifier && app.bundleIdentifier->empty()) app.bundleIdentifier.reset();
        result.push_back(std::move(app));
    }
    return result;
}

} // namespace tarvel
