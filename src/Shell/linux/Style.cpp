#include "Shell/linux/Style.h"

#include <gtk/gtk.h>

#include <string>

namespace tarvel {

namespace {

// Sizes in pixels, the measure the Mac's points map to.
constexpr const char* styleSheet = R"css(
.tarvel-notice { background-color: rgb(96.5%, 96.5%, 96.4%); }
.tarvel-notice-title { font-size: 17px; font-weight: 600; }
.tarvel-notice-explanation { font-size: 13px; }
)css";

} // namespace

void Style::install() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || g_object_get_data(G_OBJECT(display), "tarvel-style")) return;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, styleSheet, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(provider),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_set_data_full(G_OBJECT(display), "tarvel-style", provider, g_object_unref);
}

void Style::preferLightAppearance() {
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings) return;
    g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
    // A theme chosen in its dark variant ("Adwaita-dark") gives way to its light one.
    char* theme = nullptr;
    g_object_get(settings, "gtk-theme-name", &theme, nullptr);
    if (theme) {
        std::string name(theme);
        g_free(theme);
        const std::string dark = "-dark";
        if (name.size() > dark.size() && name.compare(name.size() - dark.size(), dark.size(), dark) == 0) {
            name.erase(name.size() - dark.size());
            g_object_set(settings, "gtk-theme-name", name.c_str(), nullptr);
        }
    }
}

} // namespace tarvel
