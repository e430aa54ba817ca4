// The page's alerts, confirmations, file inputs and downloads, answered by the native side.
#include "Web/linux/EditorFixture.h"
#include "Web/linux/Panels.h"

namespace tarvel::test {

namespace {

using PanelsTest = EditorFixture;

GtkMessageDialog* waitForMessageDialog() {
    return GTK_MESSAGE_DIALOG(waitForToplevel([](GtkWindow* window) { return GTK_IS_MESSAGE_DIALOG(window); }));
}

std::string messageText(GtkMessageDialog* dialog) {
    char* text = nullptr;
    g_object_get(dialog, "text", &text, nullptr);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string buttonLabel(GtkDialog* dialog, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
    return button ? gtk_button_get_label(GTK_BUTTON(button)) : "";
}

// Starts `call` in the page from a timer, so the test's own evaluation is not the one blocked.
void startInPage(WebKitWebView* view, const std::string& call) {
    evaluate(view, "window.result = undefined; setTimeout(() => { window.result = " + call + "; }, 0); true");
}

bool messageDialogShown() {
    return findToplevel([](GtkWindow* w) { return GTK_IS_MESSAGE_DIALOG(w); }) != nullptr;
}

TEST_F(PanelsTest, AnAlertIsAModalDialogWithOneButtonAndAConfirmationIsTrueOnlyForOK) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    startInPage(view, "alert('Saved \"keymap\"') ?? 'closed'");
    GtkMessageDialog* alert = waitForMessageDialog();
    ASSERT_TRUE(alert);
    EXPECT_EQ(messageText(alert), "Saved \"keymap\"");
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(alert)));
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(alert)), window->window());
    EXPECT_EQ(buttonLabel(GTK_DIALOG(alert), GTK_RESPONSE_OK), "OK");
    EXPECT_EQ(buttonLabel(GTK_DIALOG(alert), GTK_RESPONSE_CANCEL), "");
    gtk_dialog_response(GTK_DIALOG(alert), GTK_RESPONSE_OK);
    ASSERT_TRUE(waitInPage(view, "window.result === 'closed'"));
    ASSERT_TRUE(spinUntil([] { return !messageDialogShown(); }));

    const auto click = [](GtkDialog* dialog, int response) {
        g_signal_emit_by_name(gtk_dialog_get_widget_for_response(dialog, response), "clicked");
    };
    const struct {
        const char* name;
        std::function<void(GtkDialog*)> answer;
        bool expected;
    } cases[] = {
        {"OK", [&](GtkDialog* dialog) { click(dialog, GTK_RESPONSE_OK); }, true},
        {"Cancel", [&](GtkDialog* dialog) { click(dialog, GTK_RESPONSE_CANCEL); }, false},
        // The signal that the Escape key is bound to.
        {"Escape", [](GtkDialog* dialog) { g_signal_emit_by_name(dialog, "close"); }, false},
        {"window closed", [](GtkDialog* dialog) { gtk_window_close(GTK_WINDOW(dialog)); }, false},
    };
    for (const auto& c : cases) {
        startInPage(view, "confirm('Replace the rules?')");
        GtkMessageDialog* dialog = waitForMessageDialog();
        ASSERT_TRUE(dialog) << c.name;
        EXPECT_EQ(messageText(dialog), "Replace the rules?");
        GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
        EXPECT_EQ(buttonLabel(GTK_DIALOG(dialog), GTK_RESPONSE_OK), "OK");
        EXPECT_EQ(buttonLabel(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL), "Cancel");
        EXPECT_EQ(gtk_widget_get_next_sibling(ok), gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL))
            << "OK comes first";
        c.answer(GTK_DIALOG(dialog));
        EXPECT_TRUE(waitInPage(view, std::string("window.result === ") + (c.expected ? "true" : "false"))) << c.name;
        EXPECT_TRUE(spinUntil([] { return !messageDialogShown(); }));
    }
}

GtkFileChooser* waitForFileChooser() {
    return GTK_FILE_CHOOSER(waitForToplevel([](GtkWindow* window) { return GTK_IS_FILE_CHOOSER(window); }));
}

bool filterAccepts(GtkFileFilter* filter, const char* name, const char* contentType) {
    GFileInfo* info = g_file_info_new();
    g_file_info_set_display_name(info, name);
    g_file_info_set_content_type(info, contentType);
    const bool accepted = gtk_filter_match(GTK_FILTER(filter), info);
    g_object_unref(info);
    return accepted;
}

TEST_F(PanelsTest, AFileInputOpensAJsonChooserAndReturnsTheChosenFile) {
    const fs::path chosen = home / "my keymap.json";
    writeFile(chosen, R"({"rules": []})");
    ASSERT_NO_FATAL_FAILURE(openEditor());

    // Clicked from native code: WebKit counts that as the user's gesture.
    evaluate(view, "document.getElementById('single').click(), true");
    GtkFileChooser* chooser = waitForFileChooser();
    ASSERT_TRUE(chooser);
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_FALSE(gtk_file_chooser_get_select_multiple(chooser));
    GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser);
    ASSERT_TRUE(filter);
    EXPECT_TRUE(filterAccepts(filter, "KEYMAP.JSON", "application/octet-stream"));
    EXPECT_TRUE(filterAccepts(filter, "exported", "application/json"));
    EXPECT_FALSE(filterAccepts(filter, "keymap.json.bak", "text/plain"));
    // JSON is the only choice.
    GListModel* filters = gtk_file_chooser_get_filters(chooser);
    EXPECT_EQ(g_list_model_get_n_items(filters), 1u);
    g_object_unref(filters);

    GFile* file = g_file_new_for_path(chosen.c_str());
    gtk_file_chooser_set_file(chooser, file, nullptr);
    g_object_unref(file);
    ASSERT_TRUE(spinUntil([&] {
        GFile* selected = gtk_file_chooser_get_file(chooser);
        if (selected) g_object_unref(selected);
        return selected != nullptr;
    }));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(waitInPage(view, "window.chosen !== null"));
    EXPECT_EQ(evaluate(view, "window.chosen"), Json::parse(R"([{"name": "my keymap.json", "text": "{\"rules\": []}"}])"));
}

TEST_F(PanelsTest, AMultipleFileInputAllowsSeveralFilesAndCancelChoosesNone) {
    ASSERT_NO_FATAL_FAILURE(openEditor());
    evaluate(view, "document.getElementById('multiple').click(), true");
    GtkFileChooser* chooser = waitForFileChooser();
    ASSERT_TRUE(chooser);
    EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
    // The chooser and its filter go away once answered.
    GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser);
    g_object_add_weak_pointer(G_OBJECT(filter), reinterpret_cast<gpointer*>(&filter));
    g_object_add_weak_pointer(G_OBJECT(chooser), reinterpret_cast<gpointer*>(&chooser));
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
    EXPECT_TRUE(waitInPage(view, "window.cancelled"));
    EXPECT_EQ(evaluate(view, "window.chosen"), nullptr);
    EXPECT_TRUE(spinUntil([&] { return chooser == nullptr; }, 5)) << "chooser dialog still alive";
    EXPECT_TRUE(spinUntil([&] { return filter == nullptr; }, 5)) << "filter still alive";
}

TEST_F(PanelsTest, ADownloadNeverOverwritesAFileInTheDownloadsFolder) {
    const fs::path downloads = DisplayEnvironment::home() / "Downloads";
    fs::remove_all(downloads);
    writeFile(downloads / "keymap.json", "earlier");
    EXPECT_EQ(Panels::downloadFolder(), downloads);
    ASSERT_NO_FATAL_FAILURE(openEditor());

    evaluate(view, R"(
        const link = document.createElement("a");
        link.href = URL.createObjectURL(new Blob(['{"saved": true}'], {type: "application/json"}));
        link.download = "keymap.json";
        document.body.append(link);
        link.click();
        true
    )");
    const fs::path saved = downloads / "keymap 2.json";
    EXPECT_TRUE(spinUntil([&] { return fs::exists(saved) && readFile(saved) == R"({"saved": true})"; }));
    EXPECT_EQ(readFile(downloads / "keymap.json"), "earlier");
    EXPECT_EQ(listing(downloads), (std::set<std::string>{"keymap.json", "keymap 2.json"}));
    // Without a Downloads folder, downloads go home.
    fs::remove_all(downloads);
    EXPECT_EQ(Panels::downloadFolder(), DisplayEnvironment::home());
}

} // namespace

} // namespace tarvel::test
