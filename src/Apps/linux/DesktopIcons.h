#pragma once
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <vector>

#include "Apps/AppInventory.h"
#include "Apps/linux/GLibPointers.h"

namespace tarvel {

// An icon file in any format GdkPixbuf reads (PNG, SVG...), read only when it is drawn.
// Scalable formats are rendered at the asked size; others are scaled.
class IconFile final : public IconImage {
public:
    explicit IconFile(GObjectPtr<GFile> file) : file_(std::move(file)) {}
    std::optional<std::string> pngBase64(double side) const override;

private:
    GObjectPtr<GFile> file_;
};

// Pixels already in memory, such as a window's own icon.
class IconPixels final : public IconImage {
public:
    explicit IconPixels(GObjectPtr<GdkPixbuf> pixbuf) : pixbuf_(std::move(pixbuf)) {}
    std::optional<std::string> pngBase64(double side) const override;

private:
    GObjectPtr<GdkPixbuf> pixbuf_;
};

// Finds application icons in the icon theme, as the desktop shows them.
class IconLookup {
public:
    // Stands in for an application without an icon of its own.
    static constexpr const char* genericApplicationIcon = "application-x-executable";
    // Used when there is no display to ask for the user's theme: GTK's own default.
    static constexpr const char* defaultThemeName = "Adwaita";

    // The display's icon theme when GTK has opened one; otherwise a theme of its own on GTK's
    // default search path, so that no display is needed. Calls gtk_init_check() when GTK is not
    // initialised yet.
    IconLookup();
    // A theme of its own, searched in exactly these folders (each holding theme folders).
    explicit IconLookup(const std::vector<std::string>& searchPath);

    // The image for an application's icon (themed name or file); the generic application icon
    // when it has none or the theme lacks it; none when even that is missing.
    IconImagePtr iconFor(GIcon* icon, int size) const;

private:
    IconImagePtr themed(GIcon* icon, int size) const;
    GObjectPtr<GtkIconTheme> theme_;
};

} // namespace tarvel
