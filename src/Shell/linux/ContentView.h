#pragma once
#include <gtk/gtk.h>

#include <functional>

namespace tarvel {

// The window's root: the editor when Karabiner-Elements was found, the installation notice
// otherwise. The choice is made when the view is created and again only by the notice's re-check.
struct ContentView {
    static constexpr int minimumWidth = 900;
    static constexpr int minimumHeight = 640;

    // Builds the editor view; the product's builds KeymapWebView from the application's resources.
    using EditorFactory = std::function<GtkWidget*()>;
    static GtkWidget* productEditor();

    // Returns a floating reference.
    static GtkWidget* create(EditorFactory makeEditor = productEditor);

    // The state of a view made by create().
    static bool karabinerInstalled(GtkWidget* contentView);
    // The editor or the notice, whichever is shown.
    static GtkWidget* shownView(GtkWidget* contentView);
};

} // namespace tarvel
