// The window and its root view on a display: the installation notice, the re-check, the download
// button, the window's sizes and appearance, and the notice's texts through gettext.
#include <gtest/gtest.h>

#include <libintl.h>

#include <clocale>
#include <cstdlib>
#include <vector>

#include "Karabiner/KarabinerEnvironment.h"
#include "Web/linux/DisplayTestSupport.h"
#include "Shell/linux/ContentView.h"
#include "Shell/linux/KarabinerMissingView.h"
#include "Shell/linux/Resources.h"
#include "Shell/linux/Style.h"
#include "Shell/linux/TarvelApp.h"

namespace tarvel::test {

namespace {

const std::string settingsEntry = std::string(KarabinerEnvironment::settingsBundleIdentifier) + ".desktop";

// Every descendant of `widget`, depth first, in the order they are shown.
void collect(GtkWidget* widget, std::vector<GtkWidget*>& widgets) {
    widgets.push_back(widget);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        collect(child, widgets);
    }
}

// A click on a button, as the pointer gives it (keyboard activation clicks only after a delay).
void click(GtkWidget* button) { g_signal_emit_by_name(button, "clicked"); }

GtkWidget* findNamed(GtkWidget* root, const char* name) {
    std::vector<GtkWidget*> widgets;
    collect(root, widgets);
    for (GtkWidget* widget : widgets) {
        if (g_strcmp0(gtk_widget_get_name(widget), name) == 0) return widget;
    }
    return nullptr;
}

class ShellTest : public ::testing::Test {
protected:
    int editorsMade = 0;

    ContentView::EditorFactory fakeEditor() {
        return [this] {
            ++editorsMade;
            GtkWidget* editor = gtk_label_new("editor");
            gtk_widget_set_name(editor, "fake-editor");
            return editor;
        };
    }

    void SetUp() override { removeSettingsEntries(); }
    void TearDown() override {
        removeSettingsEntries();
        spinFor(0.05);
    }

    static void removeSettingsEntries() {
        fs::remove(DisplayEnvironment::dataHome() / "applications" / settingsEntry);
        fs::remove(DisplayEnvironment::dataDir() / "applications" / settingsEntry);
        // GIO notices changes of the application folders from a file monitor.
        spinUntil([] { return !KarabinerEnvironment::isInstalled(); }, 10);
    }
};

TEST_F(ShellTest, TheNoticeShowsItsTextsInOrderWithItsStyle) {
    GtkWidget* content = ContentView::create(fakeEditor());
    TestWindow window(content, 1180, 760);
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(content) && gtk_widget_get_width(content) > 0; }));
    EXPECT_FALSE(ContentView::karabinerInstalled(content));
    EXPECT_EQ(editorsMade, 0);

    GtkWidget* notice = ContentView::shownView(content);
    EXPECT_TRUE(gtk_widget_has_css_class(notice, Style::noticeClass));
    std::vector<GtkWidget*> widgets;
    collect(notice, widgets);
    std::vector<std::string> shown;
    for (GtkWidget* widget : widgets) {
        if (GTK_IS_IMAGE(widget)) {
            shown.push_back(std::string("image:") + gtk_image_get_icon_name(GTK_IMAGE(widget)) + ":" +
                            std::to_string(gtk_image_get_pixel_size(GTK_IMAGE(widget))));
        } else if (GTK_IS_BUTTON(widget)) {
            shown.push_back(std::string("button:") + gtk_button_get_label(GTK_BUTTON(widget)));
        } else if (GTK_IS_LABEL(widget) && !GTK_IS_BUTTON(gtk_widget_get_parent(widget))) {
            shown.push_back(std::string("text:") + gtk_label_get_text(GTK_LABEL(widget)));
        }
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "image:input-keyboard-symbolic:40",
                         "text:キー入力の土台コンポーネントが見つかりません",
                         "text:TarvelがMacにキー配列を反映するには、土台コンポーネントのインストールが必要です。"
                         "インストール後、もう一度確認してください。",
                         "button:土台コンポーネントをダウンロード",
                         "button:インストールした — もう一度確認",
                     }));

    GtkWidget* download = findNamed(notice, KarabinerMissingView::downloadButtonName);
    GtkWidget* recheck = findNamed(notice, KarabinerMissingView::recheckButtonName);
    ASSERT_TRUE(download && recheck);
    EXPECT_TRUE(gtk_widget_has_css_class(download, "suggested-action"));
    EXPECT_FALSE(gtk_widget_has_css_class(recheck, "suggested-action"));
    EXPECT_EQ(gtk_widget_get_next_sibling(download), recheck);
    GtkWidget* buttons = gtk_widget_get_parent(download);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(buttons)), 10);
    GtkWidget* stack = gtk_widget_get_parent(buttons);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(stack)), 16);
    EXPECT_EQ(gtk_widget_get_margin_top(stack), 40);
    EXPECT_EQ(gtk_widget_get_margin_start(stack), 40);

    // The explanation wraps at 360 pixels, its lines centred, in the muted colour.
    GtkWidget* explanation = gtk_widget_get_first_child(gtk_widget_get_prev_sibling(buttons));
    ASSERT_TRUE(GTK_IS_LABEL(explanation));
    EXPECT_EQ(gtk_widget_get_width(explanation), 360);
    EXPECT_GT(gtk_widget_get_height(explanation), 30) << "two lines or more";
    EXPECT_EQ(gtk_label_get_justify(GTK_LABEL(explanation)), GTK_JUSTIFY_CENTER);
    EXPECT_TRUE(gtk_widget_has_css_class(explanation, "dim-label"));
    // Centred in the window.
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(stack, notice, &bounds));
    EXPECT_NEAR(bounds.origin.x + bounds.size.width / 2, gtk_widget_get_width(notice) / 2.0, 1.0);
}

TEST_F(ShellTest, TheEditorReplacesTheNoticeOnlyWhenTheRecheckFindsKarabiner) {
    GtkWidget* content = ContentView::create(fakeEditor());
    TestWindow window(content);
    GtkWidget* notice = ContentView::shownView(content);
    GtkWidget* recheck = findNamed(notice, KarabinerMissingView::recheckButtonName);
    ASSERT_TRUE(recheck);

    // Still missing: nothing changes.
    click(recheck);
    spinFor(0.1);
    EXPECT_EQ(ContentView::shownView(content), notice);
    EXPECT_EQ(editorsMade, 0);

    // Installed meanwhile (on the XDG data path): still nothing until the button is pressed.
    writeFile(DisplayEnvironment::dataDir() / "applications" / settingsEntry, desktopEntry("Karabiner-Elements Settings"));
    ASSERT_TRUE(spinUntil([] { return KarabinerEnvironment::isInstalled(); }, 10));
    spinFor(0.1);
    EXPECT_EQ(ContentView::shownView(content), notice);

    click(recheck);
    ASSERT_TRUE(spinUntil([&] { return ContentView::shownView(content) != notice; }, 5));
    GtkWidget* editor = ContentView::shownView(content);
    EXPECT_STREQ(gtk_widget_get_name(editor), "fake-editor");
    EXPECT_TRUE(ContentView::karabinerInstalled(content));
    EXPECT_EQ(editorsMade, 1);
    int width = 0, height = 0;
    gtk_widget_get_size_request(editor, &width, &height);
    EXPECT_EQ(width, 900);
    EXPECT_EQ(height, 640);

    // Removed while the editor is shown: the editor stays.
    removeSettingsEntries();
    spinFor(0.1);
    EXPECT_EQ(ContentView::shownView(content), editor);
}

TEST_F(ShellTest, WithKarabinerInstalledTheEditorIsShownAtOnce) {
    const fs::path applications = DisplayEnvironment::dataHome() / "applications";
    writeFile(applications / settingsEntry, desktopEntry("Karabiner-Elements Settings"));
    // Links that loop (GIO's own lookup never returns from them) cannot hold the window's start.
    fs::create_directory_symlink(".", applications / "loop1");
    fs::create_directory_symlink(".", applications / "loop2");
    ASSERT_TRUE(spinUntil([] { return KarabinerEnvironment::isInstalled(); }, 10));
    fs::remove(applications / "loop1");
    fs::remove(applications / "loop2");
    GtkWidget* content = ContentView::create(fakeEditor());
    TestWindow window(content);
    EXPECT_TRUE(ContentView::karabinerInstalled(content));
    EXPECT_STREQ(gtk_widget_get_name(ContentView::shownView(content)), "fake-editor");
    EXPECT_EQ(editorsMade, 1);
}

TEST_F(ShellTest, TheDownloadButtonOpensTheDownloadPageAndTheNoticeStays) {
    // A stand-in browser, the default for https addresses, that writes down what it was given.
    TemporaryDirectory browser;
    const fs::path opened = browser / "opened";
    writeTool(browser / "browser", "printf '%s' \"$1\" > '" + opened.string() + "'");
    writeFile(DisplayEnvironment::dataHome() / "applications" / "tarvel-test-browser.desktop",
              desktopEntry("Browser", "MimeType=x-scheme-handler/https;x-scheme-handler/http;\n", (browser / "browser").string() + " %u"));
    writeFile(DisplayEnvironment::configHome() / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/https=tarvel-test-browser.desktop\n"
              "x-scheme-handler/http=tarvel-test-browser.desktop\n");

    GtkWidget* content = ContentView::create(fakeEditor());
    TestWindow window(content);
    GtkWidget* notice = ContentView::shownView(content);
    click(findNamed(notice, KarabinerMissingView::downloadButtonName));
    EXPECT_TRUE(spinUntil([&] { return fs::exists(opened) && !readFile(opened).empty(); }, 20));
    EXPECT_EQ(readFile(opened), KarabinerEnvironment::downloadURL());
    EXPECT_EQ(ContentView::shownView(content), notice);
    EXPECT_EQ(editorsMade, 0);

    fs::remove(DisplayEnvironment::dataHome() / "applications" / "tarvel-test-browser.desktop");
    fs::remove(DisplayEnvironment::configHome() / "mimeapps.list");
}

TEST_F(ShellTest, TheWindowStartsAt1180By760AndNeverGetsSmallerThan900By640) {
    GtkWidget* window = TarvelApp::makeWindow(nullptr);
    g_object_ref(window);
    gtk_window_present(GTK_WINDOW(window));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(window) && gtk_widget_get_width(window) > 1; }));
    EXPECT_EQ(gtk_widget_get_width(window), 1180);
    EXPECT_EQ(gtk_widget_get_height(window), 760);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window)), "Tarvel");

    int minimumWidth = 0, minimumHeight = 0;
    gtk_widget_measure(window, GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, nullptr, nullptr, nullptr);
    gtk_widget_measure(window, GTK_ORIENTATION_VERTICAL, -1, &minimumHeight, nullptr, nullptr, nullptr);
    EXPECT_EQ(minimumWidth, 900);
    EXPECT_EQ(minimumHeight, 640);

    // Asked to be smaller, it stops at the minimum.
    gtk_window_set_default_size(GTK_WINDOW(window), 500, 300);
    EXPECT_TRUE(spinUntil([&] { return gtk_widget_get_width(window) < 1180; }, 5));
    EXPECT_EQ(gtk_widget_get_width(window), 900);
    EXPECT_EQ(gtk_widget_get_height(window), 640);

    gtk_window_destroy(GTK_WINDOW(window));
    g_object_unref(window);
}

TEST_F(ShellTest, TheWindowKeepsTheLightAppearanceOnADarkDesktop) {
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, "gtk-theme-name", "Adwaita-dark", nullptr);
    GtkWidget* window = TarvelApp::makeWindow(nullptr);
    gboolean preferDark = TRUE;
    char* theme = nullptr;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &preferDark, "gtk-theme-name", &theme, nullptr);
    EXPECT_FALSE(preferDark);
    EXPECT_STREQ(theme, "Adwaita");
    g_free(theme);
    gtk_window_destroy(GTK_WINDOW(window));
}

TEST_F(ShellTest, TheNoticeTextsAreMessageIdsThatATranslationReplaces) {
    // A catalogue for a made-up language, found where the application looks for catalogues.
    TemporaryDirectory locale;
    const fs::path po = locale / "xx.po";
    writeFile(po, std::string("msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n") + "msgid \"" +
                      KarabinerMissingView::title + "\"\nmsgstr \"Keyboard component not found\"\n");
    fs::create_directories(locale / "xx/LC_MESSAGES");
    ASSERT_EQ(std::system(("msgfmt -o '" + (locale / "xx/LC_MESSAGES/tarvel.mo").string() + "' '" + po.string() + "'").c_str()), 0);

    const std::string previousLocale = std::setlocale(LC_ALL, nullptr);
    const std::string previousDomainDirectory = bindtextdomain(Resources::textDomain, nullptr);
    std::setlocale(LC_ALL, "C.UTF-8");
    ::setenv("LANGUAGE", "xx", 1);
    bindtextdomain(Resources::textDomain, locale.path().c_str());

    GtkWidget* notice = g_object_ref_sink(KarabinerMissingView::create([] {}));
    std::vector<std::string> texts;
    std::vector<GtkWidget*> widgets;
    collect(notice, widgets);
    for (GtkWidget* widget : widgets) {
        if (GTK_IS_LABEL(widget)) texts.push_back(gtk_label_get_text(GTK_LABEL(widget)));
    }
    g_object_unref(notice);

    ::unsetenv("LANGUAGE");
    bindtextdomain(Resources::textDomain, previousDomainDirectory.c_str());
    std::setlocale(LC_ALL, previousLocale.c_str());

    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[0], "Keyboard component not found");
    // Without a translation the Japanese original is shown.
    EXPECT_EQ(texts[1], KarabinerMissingView::explanation);
}

} // namespace

} // namespace tarvel::test
