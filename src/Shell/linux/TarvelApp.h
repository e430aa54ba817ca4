#pragma once
#include <gtk/gtk.h>

namespace tarvel {

// The application: one window whose content is a ContentView.
struct TarvelApp {
    static constexpr const char* applicationId = TARVEL_APP_ID;
    static constexpr const char* displayName = "Tarvel";
    static constexpr int defaultWidth = 1180;
    static constexpr int defaultHeight = 760;

    // Runs the application's main loop; returns the process's exit status.
    static int run(int argc, char** argv);

    // A window with a fresh ContentView, for `application` (may be null).
    static GtkWidget* makeWindow(GtkApplication* application);
};

} // namespace tarvel
