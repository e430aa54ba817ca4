#include "Shell/linux/TarvelApp.h"

#include "Shell/linux/ContentView.h"
#include "Shell/linux/Resources.h"
#include "Shell/linux/Style.h"

namespace tarvel {

GtkWidget* TarvelApp::makeWindow(GtkApplication* application) {
    Style::preferLightAppearance();
    GtkWidget* window = application ? gtk_application_window_new(application) : gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), displayName);
    gtk_window_set_icon_name(GTK_WINDOW(window), applicationId);
    gtk_window_set_default_size(GTK_WINDOW(window), defaultWidth, defaultHeight);
    // The content's minimum size is the window's.
    gtk_window_set_child(GTK_WINDOW(window), ContentView::create());
    return window;
}

int TarvelApp::run(int argc, char** argv) {
    Resources::setUpLocalization();
    g_set_application_name(displayName);
    GtkApplication* application = gtk_application_new(applicationId, G_APPLICATION_DEFAULT_FLAGS);
    g_signal_connect(application, "activate", G_CALLBACK(+[](GApplication* application, gpointer) {
                         // One window: a second start brings the existing one forward.
                         if (GtkWindow* window = gtk_application_get_active_window(GTK_APPLICATION(application))) {
                             gtk_window_present(window);
                             return;
                         }
                         gtk_window_present(GTK_WINDOW(makeWindow(GTK_APPLICATION(application))));
                     }),
                     nullptr);
    const int status = g_application_run(G_APPLICATION(application), argc, argv);
    g_object_unref(application);
    return status;
}

} // namespace tarvel
