#include "X11RunningApplications.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace tarvel_focus::linux_platform {

struct X11RunningApplications::Atoms {
    xcb_atom_t clientList, activeWindow, windowType, windowTypeNormal, state, stateSkipTaskbar, pid,
        gtkApplicationId, utf8String;
};

namespace {

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
using PropertyReply = std::unique_ptr<xcb_get_property_reply_t, FreeDeleter>;

xcb_get_property_cookie_t askProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type) {
    return xcb_get_property(connection, 0, window, property, type, 0, 1 << 16);
}

// The answer to an earlier question; a window that vanished meanwhile simply has no properties.
PropertyReply reply(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    PropertyReply answer(xcb_get_property_reply(connection, cookie, &error));
    std::free(error);
    return answer;
}

std::vector<uint32_t> items(const PropertyReply& answer, xcb_atom_t type) {
    if (!answer || answer->type != type || answer->format != 32) return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(answer.get()));
    return {values, values + xcb_get_property_value_length(answer.get()) / 4};
}

std::string bytes(const PropertyReply& answer, xcb_atom_t type) {
    if (!answer || answer->type != type || answer->format != 8) return {};
    return {static_cast<const char*>(xcb_get_property_value(answer.get())),
            static_cast<std::size_t>(xcb_get_property_value_length(answer.get()))};
}

std::optional<std::string> nonEmpty(std::string text) {
    if (text.empty()) return std::nullopt;
    return text;
}

bool holds(const std::vector<uint32_t>& atoms, xcb_atom_t atom) {
    return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

} // namespace

class X11RunningApplications::Application final : public RunningApplication {
public:
    Application(X11RunningApplications& owner, std::optional<uint32_t> pid, std::optional<std::string> instance,
                std::optional<std::string> wmClass)
        : owner_(owner), pid_(pid), instance_(std::move(instance)), wmClass_(std::move(wmClass)) {}

    bool sameApplication(std::optional<uint32_t> pid, const std::optional<std::string>& wmClass) const {
        return pid == pid_ && wmClass == wmClass_;
    }
    void addWindow(xcb_window_t window, bool regular, std::optional<std::string> gtkApplicationId) {
        windows_.push_back(window);
        regular_ = regular_ || regular;
        // The first one that a window of the application carries.
        if (!gtkApplicationId_) gtkApplicationId_ = std::move(gtkApplicationId);
    }
    const std::vector<xcb_window_t>& windows() const { return windows_; }

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
        if (gtkApplicationId_) entry = owner_.entries_.byId(*gtkApplicationId_);
        const std::array classNames{instance_, wmClass_};
        for (const auto& lookup :
             {&DesktopEntries::byStartupWMClass, &DesktopEntries::byId, &DesktopEntries::byIdIgnoringCase}) {
            for (const auto& className : classNames) {
                if (!entry && className) entry = (owner_.entries_.*lookup)(*className);
            }
        }
        if (entry) return {entry->name, entry->id};
        return {wmClass_, wmClass_};
    }

    X11RunningApplications& owner_;
    std::optional<uint32_t> pid_;
    std::optional<std::string> instance_, wmClass_;
    std::vector<xcb_window_t> windows_;
    bool regular_ = false;
    std::optional<std::string> gtkApplicationId_;
    mutable std::optional<Identity> identity_;
};

X11RunningApplications::X11RunningApplications(DesktopEntries entries) : entries_(std::move(entries)) {}

X11RunningApplications::~X11RunningApplications() {
    if (connection_) xcb_disconnect(connection_);
}

bool X11RunningApplications::connect() {
    if (atoms_) return true;
    if (connection_) return false; // tried and failed
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) return false;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) return false;
    root_ = screens.data->root;

    constexpr std::array names{"_NET_CLIENT_LIST",
                               "_NET_ACTIVE_WINDOW",
                               "_NET_WM_WINDOW_TYPE",
                               "_NET_WM_WINDOW_TYPE_NORMAL",
                               "_NET_WM_STATE",
                               "_NET_WM_STATE_SKIP_TASKBAR",
                               "_NET_WM_PID",
                               "_GTK_APPLICATION_ID",
                               "UTF8_STRING"};
    std::array<xcb_intern_atom_cookie_t, names.size()> questions{};
    for (std::size_t i = 0; i < names.size(); ++i)
        questions[i] = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
    std::array<xcb_atom_t, names.size()> atoms{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> answer(
            xcb_intern_atom_reply(connection_, questions[i], nullptr));
        if (!answer) return false;
        atoms[i] = answer->atom;
    }
    atoms_ = std::make_unique<Atoms>(
        Atoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7], atoms[8]});
    return true;
}

std::vector<std::shared_ptr<RunningApplication>> X11RunningApplications::list() {
    if (!connect()) return {};
    const Atoms& atoms = *atoms_;
    const auto windows = items(reply(connection_, askProperty(connection_, root_, atoms.clientList, XCB_ATOM_WINDOW)),
                               XCB_ATOM_WINDOW);

    // Everything about every window in one go, then the answers in the same order.
    struct Questions {
        xcb_get_property_cookie_t type, state, pid, wmClass, gtkApplicationId;
    };
    std::vector<Questions> questions;
    questions.reserve(windows.size());
    for (const xcb_window_t window : windows) {
        questions.push_back({askProperty(connection_, window, atoms.windowType, XCB_ATOM_ATOM),
                             askProperty(connection_, window, atoms.state, XCB_ATOM_ATOM),
                             askProperty(connection_, window, atoms.pid, XCB_ATOM_CARDINAL),
                             askProperty(connection_, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING),
                             askProperty(connection_, window, atoms.gtkApplicationId, atoms.utf8String)});
    }

    std::vector<std::shared_ptr<Application>> applications;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const auto types = items(reply(connection_, questions[i].type), XCB_ATOM_ATOM);
        const auto states = items(reply(connection_, questions[i].state), XCB_ATOM_ATOM);
        const auto pids = items(reply(connection_, questions[i].pid), XCB_ATOM_CARDINAL);
        // WM_CLASS is "instance\0class\0".
        const std::string classHint = bytes(reply(connection_, questions[i].wmClass), XCB_ATOM_STRING);
        const std::size_t split = std::min(classHint.find('\0'), classHint.size());
        auto instance = nonEmpty(classHint.substr(0, split));
        const std::string rest = split < classHint.size() ? classHint.substr(split + 1) : std::string();
        auto wmClass = nonEmpty(rest.substr(0, std::min(rest.find('\0'), rest.size())));
        auto gtkApplicationId = nonEmpty(bytes(reply(connection_, questions[i].gtkApplicationId), atoms.utf8String));

        const bool regular = (types.empty() || holds(types, atoms.windowTypeNormal)) &&
                             !holds(states, atoms.stateSkipTaskbar);
        const std::optional<uint32_t> pid = pids.empty() ? std::nullopt : std::optional(pids.front());

        auto application = std::find_if(applications.begin(), applications.end(),
                                        [&](const auto& app) { return app->sameApplication(pid, wmClass); });
        if (application == applications.end()) {
            applications.push_back(std::make_shared<Application>(*this, pid, std::move(instance), wmClass));
            application = std::prev(applications.end());
        }
        (*application)->addWindow(windows[i], regular, std::move(gtkApplicationId));
    }
    return {applications.begin(), applications.end()};
}

bool X11RunningApplications::activateAllWindows(RunningApplication& application) {
    auto* ours = dynamic_cast<Application*>(&application);
    if (!ours || !connect()) return false;
    const auto& windows = ours->windows();
    // The first window last, so that it ends on top and focused.
    for (auto window = windows.rbegin(); window != windows.rend(); ++window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = *window;
        event.type = atoms_->activeWindow;
        event.data.data32[0] = 2; // source: a pager, i.e. on the user's behalf
        event.data.data32[1] = XCB_CURRENT_TIME;
        event.data.data32[2] = XCB_NONE;
        xcb_send_event(connection_, 0, root_,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    // One round trip, so that the server has taken the messages before the process ends.
    auto* reply = xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr);
    const bool answered = reply != nullptr;
    std::free(reply);
    return answered;
}

} // namespace tarvel_focus::linux_platform
