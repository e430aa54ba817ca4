#include "Web/linux/Panels.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "Web/KeymapWebView.h"
#include "Web/linux/GObjectPtr.h"

namespace tarvel {

namespace {

GtkWindow* windowOf(WebKitWebView* view) {
    GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(view));
    return GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

// Alerts and confirmations: a modal dialog with the page's message and nothing else. The page's
// script waits until the dialog is answered.
gboolean onScriptDialog(WebKitWebView* view, WebKitScriptDialog* dialog, gpointer) {
    const WebKitScriptDialogType type = webkit_script_dialog_get_dialog_type(dialog);
    if (type != WEBKIT_SCRIPT_DIALOG_ALERT && type != WEBKIT_SCRIPT_DIALOG_CONFIRM) {
        return FALSE;  // prompts and leave-page questions keep the engine's own dialogs
    }
    GtkWidget* window = gtk_message_dialog_new(windowOf(view), GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
                                               webkit_script_dialog_get_message(dialog));
    gtk_dialog_add_button(GTK_DIALOG(window), std::string(Panels::okLabel).c_str(), GTK_RESPONSE_OK);
    if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
        gtk_dialog_add_button(GTK_DIALOG(window), std::string(Panels::cancelLabel).c_str(), GTK_RESPONSE_CANCEL);
    }
    gtk_dialog_set_default_response(GTK_DIALOG(window), GTK_RESPONSE_OK);

    g_signal_connect_data(
        window, "response",
        G_CALLBACK(+[](GtkDialog* window, int response, gpointer data) {
            auto* dialog = static_cast<WebKitScriptDialog*>(data);
            if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM) {
                // Only "OK" confirms; Escape, closing the window and "Cancel" do not.
                webkit_script_dialog_confirm_set_confirmed(dialog, response == GTK_RESPONSE_OK);
            }
            webkit_script_dialog_close(dialog);
            gtk_window_destroy(GTK_WINDOW(window));
        }),
        webkit_script_dialog_ref(dialog), [](gpointer data, GClosure*) { webkit_script_dialog_unref(static_cast<WebKitScriptDialog*>(data)); },
        GConnectFlags(0));
    gtk_window_present(GTK_WINDOW(window));
    return TRUE;
}

// File inputs: a file chooser that offers JSON files only, whatever the input accepts. WebKitGTK
// does not tell whether an input asks for folders, so on Linux the chooser always offers files.
gboolean onRunFileChooser(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer) {
    GtkFileChooserNative* chooser =
        gtk_file_chooser_native_new(nullptr, windowOf(view), GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), webkit_file_chooser_request_get_select_multiple(request));

    GtkFileFilter* json = gtk_file_filter_new();
    gtk_file_filter_set_name(json, "JSON");
    gtk_file_filter_add_suffix(json, "json");  // the *.json pattern, in any letter case
    gtk_file_filter_add_mime_type(json, "application/json");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), json);
    gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(chooser), json);
    g_object_unref(json);

    // Free-standing: the window stays usable while the chooser is open.
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), FALSE);
    g_signal_connect_data(
        chooser, "response",
        G_CALLBACK(+[](GtkNativeDialog* chooser, int response, gpointer data) {
            auto* request = static_cast<WebKitFileChooserRequest*>(data);
            std::vector<std::string> paths;
            if (response == GTK_RESPONSE_ACCEPT) {
                GObjectPtr<GListModel> files(gtk_file_chooser_get_files(GTK_FILE_CHOOSER(chooser)));
                for (guint i = 0; i < g_list_model_get_n_items(files.get()); ++i) {
                    GObjectPtr<GFile> file(G_FILE(g_list_model_get_item(files.get(), i)));
                    if (char* path = g_file_get_path(file.get())) {
                        paths.emplace_back(path);
                        g_free(path);
                    }
                }
            }
            if (paths.empty()) {
                webkit_file_chooser_request_cancel(request);
            } else {
                std::vector<const char*> list;
                for (const auto& path : paths) list.push_back(path.c_str());
                list.push_back(nullptr);
                webkit_file_chooser_request_select_files(request, list.data());
            }
            g_object_unref(chooser);  // the reference taken at creation
        }),
        g_object_ref(request), [](gpointer data, GClosure*) { g_object_unref(data); }, GConnectFlags(0));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
    return TRUE;
}

gboolean onDecideDestination(WebKitDownload* download, gchar* suggestedName, gpointer) {
    const std::filesystem::path destination = std::filesystem::absolute(
        KeymapWebView::Coordinator::uniqueDestination(suggestedName ? suggestedName : "",
                                                      Panels::downloadFolder()));
    // An absolute path: WebKit never finishes (nor fails) a download given a relative one.
    webkit_download_set_destination(download, destination.c_str());
    return TRUE;
}

void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer view) {
    // The session is shared by every view; only this view's downloads are ours.
    if (webkit_download_get_web_view(download) != view) return;
    g_signal_connect(download, "decide-destination", G_CALLBACK(onDecideDestination), nullptr);
}

std::optional<std::filesystem::path> existingFolder(const char* path) {
    if (!path || !*path) return std::nullopt;
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) return std::nullopt;
    return std::filesystem::path(path);
}

} // namespace

void Panels::attach(WebKitWebView* view) {
    g_signal_connect(view, "script-dialog", G_CALLBACK(onScriptDialog), nullptr);
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(onRunFileChooser), nullptr);
    // Disconnected by GLib when the view goes away.
    g_signal_connect_object(webkit_web_view_get_network_session(view), "download-started",
                            G_CALLBACK(onDownloadStarted), view, GConnectFlags(0));
}

std::filesystem::path Panels::downloadFolder() {
    const std::filesystem::path home = g_get_home_dir();
    // The XDG Downloads folder; without a user-dirs setting, the conventional ~/Downloads.
    std::optional<std::filesystem::path> downloads = existingFolder(g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD));
    if (!downloads) downloads = existingFolder((home / "Downloads").c_str());
    return KeymapWebView::Coordinator::downloadsFolder(downloads, home);
}

} // namespace tarvel
