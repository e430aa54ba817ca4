#pragma once
#include <gtk/gtk.h>

#include <filesystem>
#include <memory>

#include "Web/KeymapWebView.h"

namespace tarvel {

// Builds KeymapWebView on WebKitGTK: the web view that hosts the editor page, wired to its
// coordinator. A WebKitWebContext with its user content manager stands in for the Mac's web view
// configuration; the view owns both, the content manager owns the coordinator.
struct KeymapWebViewGtk {
    // A coordinator with the product's services: the GLib main queue and this platform's inventory.
    static std::shared_ptr<KeymapWebView::Coordinator> makeCoordinator();

    // The web view, loading the page from `resourcesDirectory`/WebResources/index.html, or showing
    // the notice document when that file is missing. Returns a floating reference.
    static GtkWidget* makeView(const std::shared_ptr<KeymapWebView::Coordinator>& coordinator,
                               const std::filesystem::path& resourcesDirectory);
};

} // namespace tarvel
