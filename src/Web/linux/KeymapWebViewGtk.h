#pragma once
#include <gtk/gtk.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Web/KeymapWebView.h"

namespace tarvel {

// Builds KeymapWebView on WebKitGTK: the web view that hosts the editor page, wired to its
// coordinator. A WebKitWebContext with its user content manager stands in for the Mac's web view
// configuration; the view owns both, the content manager owns the coordinator.
struct KeymapWebViewGtk {
    // A coordinator with the product's services: the GLib main queue, this platform's inventory,
    // karabiner.json watched with GIO and fetches over libsoup.
    static std::shared_ptr<KeymapWebView::Coordinator> makeCoordinator();

    // The web view, loading the page from `resourcesDirectory`/WebResources/index.html, or showing
    // the notice document when that file is missing. Returns a floating reference.
    //
    // The view is locked down: it shows only the editor's own documents (a web link the user clicks
    // opens in the browser, the page's exports become downloads, anything else - a dropped file
    // included - is cancelled), and when its web process dies it reloads the page once; a second
    // death within a minute shows a notice instead.
    static GtkWidget* makeView(const std::shared_ptr<KeymapWebView::Coordinator>& coordinator,
                               const std::filesystem::path& resourcesDirectory);

    // Opens a web address in the user's default browser. Tests put a recorder here.
    static std::function<void(const std::string& address)> openInBrowser;
};

} // namespace tarvel
