#include "Shell/linux/KarabinerMissingView.h"

#include "Karabiner/KarabinerEnvironment.h"
#include "Shell/linux/Resources.h"
#include "Shell/linux/Style.h"
#include "Web/linux/KeymapWebViewGtk.h"

namespace tarvel {

namespace {

void openDownloadPage(GtkButton*, gpointer) {
    // In the default browser, as the editor opens web links; a failure is ignored.
    KeymapWebViewGtk::openInBrowser(KarabinerEnvironment::downloadURL());
}

// A holder exactly `width` pixels wide whose child wraps to that width.
GtkWidget* fixedWidth(GtkWidget* child, int width) {
    GtkWidget* holder = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    g_object_set_data(G_OBJECT(holder), "tarvel-width", GINT_TO_POINTER(width));
    gtk_widget_set_layout_manager(
        holder,
        gtk_custom_layout_new(
            [](GtkWidget*) { return GTK_SIZE_REQUEST_HEIGHT_FOR_WIDTH; },
            [](GtkWidget* holder, GtkOrientation orientation, int forSize, int* minimum, int* natural,
               int* minimumBaseline, int* naturalBaseline) {
                const int width = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(holder), "tarvel-width"));
                GtkWidget* child = gtk_widget_get_first_child(holder);
                if (orientation == GTK_ORIENTATION_HORIZONTAL) {
                    *minimum = *natural = width;
                } else {
                    gtk_widget_measure(child, orientation, forSize < 0 ? width : forSize, minimum, natural,
                                       minimumBaseline, naturalBaseline);
                }
            },
            [](GtkWidget* holder, int width, int height, int baseline) {
                gtk_widget_allocate(gtk_widget_get_first_child(holder), width, height, baseline, nullptr);
            }));
    gtk_box_append(GTK_BOX(holder), child);
    return holder;
}

GtkWidget* label(const char* text, const char* styleClass) {
    GtkWidget* widget = gtk_label_new(text);
    gtk_widget_add_css_class(widget, styleClass);
    return widget;
}

} // namespace

GtkWidget* KarabinerMissingView::create(std::function<void()> onRecheck) {
    Style::install();

    GtkWidget* notice = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_add_css_class(notice, Style::noticeClass);

    GtkWidget* stack = gtk_box_new(GTK_ORIENTATION_VERTICAL, 16);
    gtk_widget_set_halign(stack, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(stack, GTK_ALIGN_CENTER);
    gtk_widget_set_vexpand(stack, TRUE);
    for (auto set : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom, gtk_widget_set_margin_start,
                     gtk_widget_set_margin_end}) {
        set(stack, 40);
    }
    gtk_box_append(GTK_BOX(notice), stack);

    GtkWidget* symbol = gtk_image_new_from_icon_name(symbolName);
    gtk_image_set_pixel_size(GTK_IMAGE(symbol), 40);
    gtk_widget_add_css_class(symbol, "dim-label");
    gtk_box_append(GTK_BOX(stack), symbol);

    gtk_box_append(GTK_BOX(stack), label(tr(title), Style::titleClass));

    GtkWidget* text = label(tr(explanation), Style::explanationClass);
    gtk_widget_add_css_class(text, "dim-label");
    gtk_label_set_wrap(GTK_LABEL(text), TRUE);
    gtk_label_set_wrap_mode(GTK_LABEL(text), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_justify(GTK_LABEL(text), GTK_JUSTIFY_CENTER);
    GtkWidget* explanationHolder = fixedWidth(text, 360);  // lines wrap at 360 pixels
    gtk_widget_set_halign(explanationHolder, GTK_ALIGN_CENTER);
    gtk_box_append(GTK_BOX(stack), explanationHolder);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 10);
    gtk_widget_set_halign(buttons, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(buttons, GTK_ALIGN_CENTER);

    GtkWidget* download = gtk_button_new_with_label(tr(downloadLabel));
    gtk_widget_set_name(download, downloadButtonName);
    gtk_widget_add_css_class(download, "suggested-action");
    gtk_widget_set_valign(download, GTK_ALIGN_CENTER);
    g_signal_connect(download, "clicked", G_CALLBACK(openDownloadPage), nullptr);
    gtk_box_append(GTK_BOX(buttons), download);

    GtkWidget* recheck = gtk_button_new_with_label(tr(recheckLabel));
    gtk_widget_set_name(recheck, recheckButtonName);
    gtk_widget_set_valign(recheck, GTK_ALIGN_CENTER);
    using Action = std::function<void()>;
    g_signal_connect_data(
        recheck, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) { (*static_cast<Action*>(data))(); }),
        new Action(std::move(onRecheck)), [](gpointer data, GClosure*) { delete static_cast<Action*>(data); },
        GConnectFlags(0));
    gtk_box_append(GTK_BOX(buttons), recheck);

    gtk_box_append(GTK_BOX(stack), buttons);
    return notice;
}

} // namespace tarvel
