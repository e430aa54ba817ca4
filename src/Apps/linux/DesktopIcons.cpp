#include "Apps/linux/DesktopIcons.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace tarvel {

namespace {

constexpr goffset maximumIconFileSize = 16 * 1024 * 1024;
// A vector drawing's cost follows its source, not its size on screen.
constexpr goffset maximumScalableIconFileSize = 1024 * 1024;
// Larger images are skipped before their pixels are decoded: a small file can declare a huge image.
constexpr int maximumIconDimension = 4096;

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

struct Loading {
    int side;
    goffset fileSize;
    bool tooLarge = false;
};

// Called with the image's dimensions before its pixels are decoded. Vector images are drawn at their
// own proportions just large enough to cover the square (the SVG loader would letter-box a
// non-square drawing), then stretched like any other image; raster images too large to be an icon
// stop the loader here, before it allocates their pixels.
void sizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    auto* loading = static_cast<Loading*>(data);
    GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
    if (format && gdk_pixbuf_format_is_scalable(format)) {
        if (loading->fileSize > maximumScalableIconFileSize) {
            loading->tooLarge = true;
            gdk_pixbuf_loader_set_size(loader, 0, 0);
            return;
        }
        const int side = loading->side;
        if (width <= 0 || height <= 0) {
            gdk_pixbuf_loader_set_size(loader, side, side);
            return;
        }
        const double scale = std::max(double(side) / width, double(side) / height);
        auto dimension = [&](int natural) { return std::clamp(int(std::lround(natural * scale)), side, side * 16); };
        gdk_pixbuf_loader_set_size(loader, dimension(width), dimension(height));
        return;
    }
    if (width > maximumIconDimension || height > maximumIconDimension) {
        loading->tooLarge = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);  // the loaders stop at an empty size
    }
}

// Reads, decodes and draws one icon file, on whatever thread calls it.
std::optional<std::string> drawIconFile(GFile* file, int pixels) {
    // Only a regular file of a sane size: an entry may name any path (a device, a huge file).
    auto info = adopt(g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_TYPE "," G_FILE_ATTRIBUTE_STANDARD_SIZE,
                                        G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (!info || g_file_info_get_file_type(info.get()) != G_FILE_TYPE_REGULAR ||
        g_file_info_get_size(info.get()) > maximumIconFileSize)
        return std::nullopt;

    char* rawContents = nullptr;
    gsize length = 0;
    if (!g_file_load_contents(file, nullptr, &rawContents, &length, nullptr, nullptr)) return std::nullopt;
    GCharPtr contents(rawContents);

    auto loader = loaderFor(file);
    Loading loading{pixels, g_file_info_get_size(info.get())};
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(sizePrepared), &loading);
    // In pieces, so that an image found too large stops the reading.
    bool loaded = true;
    GError* rawError = nullptr;
    constexpr gsize piece = 64 * 1024;
    for (gsize at = 0; loaded && !loading.tooLarge && at < length; at += piece) {
        loaded = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(contents.get()) + at,
                                         std::min(piece, length - at), &rawError);
    }
    GErrorPtr writeError(rawError);
    rawError = nullptr;
    // Closed in any case: a loader must not be finalised open.
    loaded = gdk_pixbuf_loader_close(loader.get(), loaded ? &rawError : nullptr) && loaded;
    GErrorPtr closeError(rawError);
    if (!loaded || loading.tooLarge) return std::nullopt;
    GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader.get());
    // A loader that decoded without asking first still gives nothing too large.
    if (!image || gdk_pixbuf_get_width(image) > maximumIconDimension || gdk_pixbuf_get_height(image) > maximumIconDimension)
        return std::nullopt;
    return squarePNGBase64(image, pixels);
}

// A drawing that outlives its time limit keeps running on its own until the library gives up on it
// (an SVG of nested references can keep librsvg busy for many seconds); meanwhile no other icon
// file is drawn, so that there is never more than one such drawing.
std::atomic<bool> drawingLeftBehind{false};

struct Drawing {
    std::mutex mutex;
    std::condition_variable finishedCondition;
    bool finished = false;
    bool leftBehind = false;  // its caller stopped waiting
    std::optional<std::string> result;
};

} // namespace

std::optional<std::string> IconFile::pngBase64(double side) const {
    const int pixels = pixelSide(side);
    if (!file_ || pixels == 0 || drawingLeftBehind) return std::nullopt;

    auto drawing = std::make_shared<Drawing>();
    try {
        std::thread([drawing, file = retain(file_.get()), pixels] {
            auto result = drawIconFile(file.get(), pixels);
            std::lock_guard lock(drawing->mutex);
            drawing->result = std::move(result);
            drawing->finished = true;
            if (drawing->leftBehind) drawingLeftBehind = false;
            drawing->finishedCondition.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock lock(drawing->mutex);
    if (drawing->finishedCondition.wait_for(lock, timeLimit_, [&] { return drawing->finished; }))
        return std::move(drawing->result);
    // Under the drawing's lock, so that its end, however near, clears what is set here.
    drawing->leftBehind = true;
    drawingLeftBehind = true;
    return std::nullopt;
}

bool IconFile::drawingInBackground() { return drawingLeftBehind; }

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

IconLookup::IconLookup(const IconThemeSettings& settings) {
    theme_ = adopt(gtk_icon_theme_new());
    auto terminated = [](const std::vector<std::string>& list) {
        std::vector<const char*> items;
        for (const auto& item : list) items.push_back(item.c_str());
        items.push_back(nullptr);
        return items;
    };
    gtk_icon_theme_set_search_path(theme_.get(), terminated(settings.searchPath).data());
    gtk_icon_theme_set_resource_path(theme_.get(), terminated(settings.resourcePath).data());
    gtk_icon_theme_set_theme_name(theme_.get(), settings.themeName.c_str());
}

IconThemeSettings IconLookup::displaySettings() {
    const IconLookup current;
    IconThemeSettings settings;
    auto list = [](char** items) {
        std::vector<std::string> result;
        for (char** item = items; item && *item; ++item) result.emplace_back(*item);
        g_strfreev(items);
        return result;
    };
    GCharPtr name(gtk_icon_theme_get_theme_name(current.theme_.get()));
    settings.themeName = name ? name.get() : defaultThemeName;
    settings.searchPath = list(gtk_icon_theme_get_search_path(current.theme_.get()));
    settings.resourcePath = list(gtk_icon_theme_get_resource_path(current.theme_.get()));
    return settings;
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
