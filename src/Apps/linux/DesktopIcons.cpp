#include "Apps/linux/DesktopIcons.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarvel {

namespace {

constexpr goffset maximumIconFileSize = 16 * 1024 * 1024;

int pixelSide(double side) {
    // One pixel per point, as GTK draws at scale 1.
    if (!(side >= 1) || side > 4096) return 0;
    return static_cast<int>(std::lround(side));
}

// Stretches to the square with the best filter pixbuf offers, keeps transparency as it is (the
// result replaces, never blends), and writes PNG in Base64.
std::optional<std::string> squarePNGBase64(GdkPixbuf* source, int side) {
    if (!source || side <= 0) return std::nullopt;
    GObjectPtr<GdkPixbuf> square;
    if (gdk_pixbuf_get_width(source) == side && gdk_pixbuf_get_height(source) == side)
        square = retain(source);
    else
        square = adopt(gdk_pixbuf_scale_simple(source, side, side, GDK_INTERP_HYPER));
    if (!square) return std::nullopt;
    if (!gdk_pixbuf_get_has_alpha(square.get())) square = adopt(gdk_pixbuf_add_alpha(square.get(), FALSE, 0, 0, 0));
    if (!square) return std::nullopt;

    gchar* buffer = nullptr;
    gsize size = 0;
    GError* rawError = nullptr;
    if (!gdk_pixbuf_save_to_buffer(square.get(), &buffer, &size, "png", &rawError, nullptr)) {
        GErrorPtr error(rawError);
        return std::nullopt;
    }
    GCharPtr png(buffer);
    GCharPtr text(g_base64_encode(reinterpret_cast<const guchar*>(png.get()), size));
    if (!text) return std::nullopt;
    return std::string(text.get());
}

// The loader named by the file's extension: it needs no MIME database and skips content sniffing.
// Unknown extensions fall back to sniffing.
GObjectPtr<GdkPixbufLoader> loaderFor(GFile* file) {
    GCharPtr basename(g_file_get_basename(file));
    const char* dot = basename ? std::strrchr(basename.get(), '.') : nullptr;
    if (dot && dot[1]) {
        GCharPtr extension(g_ascii_strdown(dot + 1, -1));
        GSList* formats = gdk_pixbuf_get_formats();
        std::string type;
        for (GSList* item = formats; item && type.empty(); item = item->next) {
            auto* format = static_cast<GdkPixbufFormat*>(item->data);
            gchar** extensions = gdk_pixbuf_format_get_extensions(format);
            for (gchar** e = extensions; e && *e && type.empty(); ++e)
                if (std::strcmp(*e, extension.get()) == 0) type = GCharPtr(gdk_pixbuf_format_get_name(format)).get();
            g_strfreev(extensions);
        }
        g_slist_free(formats);
        if (!type.empty())
            if (GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type.c_str(), nullptr)) return adopt(loader);
    }
    return adopt(gdk_pixbuf_loader_new());
}

// Vector images are drawn at their own proportions just large enough to cover the square (the
// SVG loader would letter-box a non-square drawing), then stretched like any other image.
void renderScalableAtSide(GdkPixbufLoader* loader, int width, int height, gpointer sidePointer) {
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    if (!format || !gdk_pixbuf_format_is_scalable(format)) return;
    const int side = *static_cast<const int*>(sidePointer);
    if (width <= 0 || height <= 0) {
        gdk_pixbuf_loader_set_size(loader, side, side);
        return;
    }
    const double scale = std::max(double(side) / width, double(side) / height);
    auto dimension = [&](int natural) { return std::clamp(int(std::lround(natural * scale)), side, side * 16); };
    gdk_pixbuf_loader_set_size(loader, dimension(width), dimension(height));
}

} // namespace

std::optional<std::string> IconFile::pngBase64(double side) const {
    int pixels = pixelSide(side);
    if (!file_ || pixels == 0) return std::nullopt;

    // Only a regular file of a sane size: an entry may name any path (a device, a huge file), and
    // the window waits while its icon is read.
    auto info = adopt(g_file_query_info(file_.get(), G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_SIZE,
                                        G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (!info || g_file_info_get_file_type(info.get()) != G_FILE_TYPE_REGULAR ||
        g_file_info_get_size(info.get()) > maximumIconFileSize)
        return std::nullopt;

    char* rawContents = nullptr;
    gsize length = 0;
    if (!g_file_load_contents(file_.get(), nullptr, &rawContents, &length, nullptr, nullptr)) return std::nullopt;
    GCharPtr contents(rawContents);

    auto loader = loaderFor(file_.get());
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(renderScalableAtSide), &pixels);
    GError* rawError = nullptr;
    bool loaded = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(contents.get()), length, &rawError);
    GErrorPtr writeError(rawError);
    rawError = nullptr;
    // Closed in any case: a loader must not be finalised open.
    loaded = gdk_pixbuf_loader_close(loader.get(), loaded ? &rawError : nullptr) && loaded;
    GErrorPtr closeError(rawError);
    if (!loaded) return std::nullopt;
    return squarePNGBase64(gdk_pixbuf_loader_get_pixbuf(loader.get()), pixels);
}

std::optional<std::string> IconPixels::pngBase64(double side) const { return squarePNGBase64(pixbuf_.get(), pixelSide(side)); }

// An icon theme falls back on GTK's built-in index of the hicolor theme, and a lookup aborts when that
// is missing, so GTK's resources must be registered. The application has initialised GTK already;
// elsewhere (tests, benchmarks) this registers them, and opens $DISPLAY when there is one.
void ensureGtk() {
    if (!gtk_is_initialized()) gtk_init_check();
}

IconLookup::IconLookup() {
    ensureGtk();
    if (GdkDisplay* display = gdk_display_get_default()) {
        theme_ = retain(gtk_icon_theme_get_for_display(display));
    } else {
        theme_ = adopt(gtk_icon_theme_new());
        gtk_icon_theme_set_theme_name(theme_.get(), defaultThemeName);
    }
}

IconLookup::IconLookup(const std::vector<std::string>& searchPath) {
    ensureGtk();
    theme_ = adopt(gtk_icon_theme_new());
    std::vector<const char*> folders;
    for (const auto& folder : searchPath) folders.push_back(folder.c_str());
    folders.push_back(nullptr);
    gtk_icon_theme_set_search_path(theme_.get(), folders.data());
    gtk_icon_theme_set_theme_name(theme_.get(), defaultThemeName);
}

IconImagePtr IconLookup::themed(GIcon* icon, int size) const {
    if (!icon || !gtk_icon_theme_has_gicon(theme_.get(), icon)) return nullptr;
    auto paintable = adopt(gtk_icon_theme_lookup_by_gicon(theme_.get(), icon, size, 1, GTK_TEXT_DIR_NONE,
                                                          static_cast<GtkIconLookupFlags>(0)));
    if (!paintable) return nullptr;
    GFile* file = gtk_icon_paintable_get_file(paintable.get());
    if (!file) return nullptr;
    return std::make_shared<IconFile>(adopt(file));
}

IconImagePtr IconLookup::iconFor(GIcon* icon, int size) const {
    if (icon && G_IS_FILE_ICON(icon)) {
        GFile* file = g_file_icon_get_file(G_FILE_ICON(icon));
        if (file && g_file_query_exists(file, nullptr)) return std::make_shared<IconFile>(retain(file));
    } else if (auto image = themed(icon, size)) {
        return image;
    }
    auto generic = adopt(g_themed_icon_new(genericApplicationIcon));
    return themed(G_ICON(generic.get()), size);
}

} // namespace tarvel
