#include "X11RunningApplications.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <array>
#include <unistd.h>

namespace tarvel_focus::linux_platform {

struct X11RunningApplications::Atoms {
    Atom clientList, activeWindow, windowType, windowTypeNormal, state, stateSkipTaskbar, pid, gtkApplicationId,
        utf8String;
};

namespace {

// A window that disappears between the listing and a read is normal, not a reason to print and exit
// as Xlib would by default.
int ignoreError(Display*, XErrorEvent*) { return 0; }
// The connection is gone: nothing can be focused any more, and Xlib allows no return from here.
int quitSilently(Display*) { _exit(1); }

struct XFreeDeleter {
    void operator()(void* data) const {
        if (data) XFree(data);
    }
};

// The 32-bit items of a property, which Xlib hands over as C longs.
std::vector<unsigned long> longItems(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* raw = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 1 << 16, False, type, &actualType,
                                          &actualFormat, &count, &remaining, &raw);
    std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
    if (status != Success || !data || actualType != type || actualFormat != 32) return {};
    const auto* items = reinterpret_cast<const unsigned long*>(data.get());
    return {items, items + count};
}

std::optional<std::string> utf8Text(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* raw = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 1 << 12, False, type, &actualType,
                                          &actualFormat, &count, &remaining, &raw);
    std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
    if (status != Success || !data || actualType != type || actualFormat != 8 || count == 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(data.get()), count);
}

std::optional<std::string> nonEmpty(const char* text) {
    if (!text || !*text) return std::nullopt;
    return std::string(text);
}

} // namespace

class X11RunningApplications::Application final : public RunningApplication {
public:
    Application(X11RunningApplications& owner, std::optional<unsigned long> pid, std::optional<std::string> instance,
                std::optional<std::string> wmClass)
        : owner_(owner), pid_(pid), instance_(std::move(instance)), wmClass_(std::move(wmClass)) {}

    bool sameApplication(std::optional<unsigned long> pid, const std::optional<std::string>& wmClass) const {
        return pid == pid_ && wmClass == wmClass_;
    }
    void addWindow(Window window, bool regular) {
        windows_.push_back(window);
        regular_ = regular_ || regular;
    }
    const std::vector<Window>& windows() const { return windows_; }

    ActivationPolicy activationPolicy() const override {
        return regular_ ? ActivationPolicy::regular : ActivationPolicy::accessory;
    }
    std::optional<std::string> localizedName() const override { return identity().name; }
    std::optional<std::string> bundleIdentifier() const override { return identity().identifier; }

private:
    struct Identity {
        std::optional<std::string> name, identifier;
    };

    const Identity& identity() const {
        if (!identity_) identity_ = resolve();
        return *identity_;
    }

    // The application's desktop entry gives its name and identifier; without one, the window class does.
    Identity resolve() const {
        std::optional<DesktopEntry> entry;
        if (const auto applicationId = gtkApplicationId()) entry = owner_.entries_.byId(*applicationId);
        const std::array classNames{instance_, wmClass_};
        for (const auto& lookup : {&DesktopEntries::byStartupWMClass, &DesktopEntries::byId,
                                   &DesktopEntries::byIdIgnoringCase}) {
            for (const auto& className : classNames) {
                if (!entry && className) entry = (owner_.entries_.*lookup)(*className);
            }
        }
        if (entry) return {entry->name, entry->id};
        return {wmClass_, wmClass_};
    }

    std::optional<std::string> gtkApplicationId() const {
        for (const Window window : windows_) {
            if (auto id = utf8Text(owner_.display_, window, owner_.atoms_->gtkApplicationId, owner_.atoms_->utf8String);
                id && !id->empty())
                return id;
        }
        return std::nullopt;
    }

    X11RunningApplications& owner_;
    std::optional<unsigned long> pid_;
    std::optional<std::string> instance_, wmClass_;
    std::vector<Window> windows_;
    bool regular_ = false;
    mutable std::optional<Identity> identity_;
};

X11RunningApplications::X11RunningApplications(DesktopEntries entries) : entries_(std::move(entries)) {}

X11RunningApplications::~X11RunningApplications() {
    if (display_) XCloseDisplay(display_);
}

bool X11RunningApplications::connect() {
    if (display_) return true;
    XSetErrorHandler(ignoreError);
    XSetIOErrorHandler(quitSilently);
    display_ = XOpenDisplay(nullptr);
    if (!display_) return false;

    std::array<const char*, 9> names{"_NET_CLIENT_LIST",        "_NET_ACTIVE_WINDOW", "_NET_WM_WINDOW_TYPE",
                                     "_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_STATE",     "_NET_WM_STATE_SKIP_TASKBAR",
                                     "_NET_WM_PID",             "_GTK_APPLICATION_ID", "UTF8_STRING"};
    std::array<Atom, 9> atoms{};
    XInternAtoms(display_, const_cast<char**>(names.data()), static_cast<int>(names.size()), False, atoms.data());
    atoms_ = std::make_unique<Atoms>(
        Atoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7], atoms[8]});
    return true;
}

std::vector<std::shared_ptr<RunningApplication>> X11RunningApplications::list() {
    if (!connect()) return {};
    const Window root = DefaultRootWindow(display_);
    std::vector<std::shared_ptr<Application>> applications;
    for (const unsigned long item : longItems(display_, root, atoms_->clientList, XA_WINDOW)) {
        const auto window = static_cast<Window>(item);

        const auto types = longItems(display_, window, atoms_->windowType, XA_ATOM);
        const auto states = longItems(display_, window, atoms_->state, XA_ATOM);
        const bool normal =
            types.empty() || std::find(types.begin(), types.end(), atoms_->windowTypeNormal) != types.end();
        const bool skipsTaskbar = std::find(states.begin(), states.end(), atoms_->stateSkipTaskbar) != states.end();

        const auto pids = longItems(display_, window, atoms_->pid, XA_CARDINAL);
        const std::optional<unsigned long> pid = pids.empty() ? std::nullopt : std::optional(pids.front());

        std::optional<std::string> instance, wmClass;
        XClassHint hint{};
        if (XGetClassHint(display_, window, &hint)) {
            instance = nonEmpty(hint.res_name);
            wmClass = nonEmpty(hint.res_class);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }

        auto application = std::find_if(applications.begin(), applications.end(),
                                        [&](const auto& app) { return app->sameApplication(pid, wmClass); });
        if (application == applications.end()) {
            applications.push_back(std::make_shared<Application>(*this, pid, std::move(instance), wmClass));
            application = std::prev(applications.end());
        }
        (*application)->addWindow(window, normal && !skipsTaskbar);
    }
    return {applications.begin(), applications.end()};
}

void X11RunningApplications::activateAllWindows(RunningApplication& application) {
    auto* ours = dynamic_cast<Application*>(&application);
    if (!ours || !connect()) return;
    const Window root = DefaultRootWindow(display_);
    const auto& windows = ours->windows();
    // The first window last, so that it ends on top and focused.
    for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = *window;
        event.xclient.message_type = atoms_->activeWindow;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // source: a pager, i.e. on the user's behalf
        event.xclient.data.l[1] = CurrentTime;
        event.xclient.data.l[2] = None;
        XSendEvent(display_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    }
    XSync(display_, False);
}

} // namespace tarvel_focus::linux_platform
