// A stand-in application for the end-to-end tests and the benchmark: opens top-level windows with a
// given title, WM_CLASS and EWMH properties, prints their ids (one per line, hexadecimal), and keeps
// them open until it is terminated.
//   focus-test-window --instance I --class C [--title T] [--windows N] [--no-pid] [--skip-taskbar]
//                     [--type dialog] [--gtk-application-id ID]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void setAtoms(Display* display, Window window, const char* property, const std::vector<const char*>& values) {
    std::vector<Atom> atoms;
    for (const char* value : values) atoms.push_back(XInternAtom(display, value, False));
    XChangeProperty(display, window, XInternAtom(display, property, False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()), static_cast<int>(atoms.size()));
}

} // namespace

int main(int argc, char** argv) {
    std::string title = "Test window", instance = "test", windowClass = "Test", type, gtkApplicationId;
    int count = 1;
    bool withPid = true, skipTaskbar = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--instance") {
            instance = value, ++i;
        } else if (option == "--class") {
            windowClass = value, ++i;
        } else if (option == "--title") {
            title = value, ++i;
        } else if (option == "--windows") {
            count = std::atoi(value), ++i;
        } else if (option == "--type") {
            type = value, ++i;
        } else if (option == "--gtk-application-id") {
            gtkApplicationId = value, ++i;
        } else if (option == "--no-pid") {
            withPid = false;
        } else if (option == "--skip-taskbar") {
            skipTaskbar = true;
        } else {
            std::fprintf(stderr, "focus-test-window: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    Display* display = XOpenDisplay(nullptr);
    if (!display) return 2;
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    for (int n = 0; n < count; ++n) {
        const Window window =
            XCreateSimpleWindow(display, DefaultRootWindow(display), 40 + 30 * n, 40 + 30 * n, 320, 200, 1,
                                BlackPixel(display, 0), WhitePixel(display, 0));
        XClassHint hint{instance.data(), windowClass.data()};
        XSetClassHint(display, window, &hint);
        XStoreName(display, window, title.c_str());
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        if (withPid) {
            const long pid = getpid();
            XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        }
        if (type == "dialog") setAtoms(display, window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DIALOG"});
        if (type == "normal") setAtoms(display, window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_NORMAL"});
        if (skipTaskbar) setAtoms(display, window, "_NET_WM_STATE", {"_NET_WM_STATE_SKIP_TASKBAR"});
        if (!gtkApplicationId.empty())
            XChangeProperty(display, window, XInternAtom(display, "_GTK_APPLICATION_ID", False), utf8, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(gtkApplicationId.data()),
                            static_cast<int>(gtkApplicationId.size()));
        XMapWindow(display, window);
        std::printf("0x%lx\n", window);
    }
    XSync(display, False);
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}
