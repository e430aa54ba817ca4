#pragma once
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Apps/AppInventory.h"
#include "Apps/linux/GLibPointers.h"

namespace tarvel {

// An icon file in any format GdkPixbuf reads (PNG, SVG...), read only when it is drawn.
// Scalable formats are rendered at the asked size; others are scaled. Files that would cost too
// much are not drawn: raster images over 4096 pixels a side (known before their pixels are
// decoded), vector images over 1 MB, and any drawing that takes longer than drawTimeLimit.
class IconFile final : public IconImage {
public:
    static constexpr std::chrono::milliseconds drawTimeLimit{1000};

    explicit IconFile(GObjectPtr<GFile> file, std::chrono::milliseconds timeLimit = drawTimeLimit)
        : file_(std::move(file)), timeLimit_(timeLimit) {}
    std::optional<std::string> pngBase64(double side) const override;

    // True while a drawing that ran out of time still runs; no icon file is drawn until it ends.
    static bool drawingInBackground();

private:
    GObjectPtr<GFile> file_;
    std::chrono::milliseconds timeLimit_;
};

// Pixels already in memory, such as a window's own icon.
class IconPixels final : public IconImage {
public:
    explicit IconPixels(GObjectPtr<GdkPixbuf> pixbuf) : pixbuf_(std::move(pixbuf)) {}
    std::optional<std::string> pngBase64(double side) const override;

private:
    GObjectPtr<GdkPixbuf> pixbuf_;
};

// What it takes to look icons up as a given theme does, in a theme object of one's own.
struct IconThemeSettings {
    std::string themeName;
    std::vector<std::string> searchPath;
    std::vector<std::string> resourcePath;
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
    // A theme of its own with these settings. The display's theme belongs to the main thread; this
    // one may be made and used on any thread (one at a time), and never initialises GTK.
    explicit IconLookup(const IconThemeSettings& settings);

    // The settings of the theme the default constructor would use. Main thread only.
    static IconThemeSettings displaySettings();

    // The image for an application's icon (themed name or file); the generic application icon
    // when it has none or the theme lacks it; none when even that is missing.
    IconImagePtr iconFor(GIcon* icon, int size) const;

private:
    IconImagePtr themed(GIcon* icon, int size) const;
    GObjectPtr<GtkIconTheme> theme_;
};

} // namespace tarvel
