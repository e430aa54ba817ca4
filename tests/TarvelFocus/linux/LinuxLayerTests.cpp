#include "DesktopEntries.h"
#include "FindTarget.h"
#include "GioOpener.h"
#include "IcuNormalizer.h"
#include "TempFolder.h"
#include "X11RunningApplications.h"

#include <chrono>
#include <glib.h>
#include <gtest/gtest.h>
#include <thread>

namespace tarvel_focus::linux_platform {
namespace {

using testing::desktopEntry;
using testing::TempFolder;
using namespace std::chrono_literals;

TEST(IcuNormalizer, EqualsPrecomposedAndDecomposedForms) {
    const IcuNormalizer icu;
    EXPECT_TRUE(canonicallyEqual(icu, "Caf\u00e9", "Cafe\u0301"));
    EXPECT_TRUE(canonicallyEqual(icu, "\u00c5ngstr\u00f6m", "A\u030angstro\u0308m"));
    EXPECT_TRUE(canonicallyEqual(icu, "\u212bngstr\u00f6m", "\u00c5ngstr\u00f6m")); // ANGSTROM SIGN
    EXPECT_TRUE(canonicallyEqual(icu, "\u212a", "K"));                               // KELVIN SIGN
    EXPECT_TRUE(canonicallyEqual(icu, "\ud55c\uae00", "\u1112\u1161\u11ab\u1100\u1173\u11af")); // Hangul
    EXPECT_TRUE(canonicallyEqual(icu, "\u30ac", "\u30ab\u3099"));                    // ガ
    // Combining marks of different classes in either order.
    EXPECT_TRUE(canonicallyEqual(icu, "q\u0307\u0323", "q\u0323\u0307"));
}

TEST(IcuNormalizer, KeepsCompatibilityFormsAndCaseApart) {
    const IcuNormalizer icu;
    EXPECT_FALSE(canonicallyEqual(icu, "\ufb01le", "file"));      // ligature
    EXPECT_FALSE(canonicallyEqual(icu, "\uff33afari", "Safari")); // full-width
    EXPECT_FALSE(canonicallyEqual(icu, "\u30ac", "\uff76\uff9e")); // half-width katakana
    EXPECT_FALSE(canonicallyEqual(icu, "Caf\u00e9", "caf\u00e9"));
    EXPECT_FALSE(canonicallyEqual(icu, "Caf\u00e9", "Cafe"));
    EXPECT_FALSE(canonicallyEqual(icu, "\u00e9", "e\u0300"));
}

TEST(IcuNormalizer, RefusesInvalidUtf8) {
    ASSERT_TRUE(IcuNormalizer::available()) << "ICU could not be loaded";
    const IcuNormalizer icu;
    EXPECT_EQ(icu.composed("Cafe\u0301"), "Caf\u00e9");
    EXPECT_EQ(icu.composed(""), "");
    EXPECT_EQ(icu.composed("\xC3"), std::nullopt);
    EXPECT_EQ(icu.composed("e\xCC"), std::nullopt);
    EXPECT_EQ(icu.composed("\xED\xA0\x80"), std::nullopt); // encoded surrogate
    EXPECT_FALSE(canonicallyEqual(icu, "e\xCC", "e\xCD"));
    EXPECT_TRUE(canonicallyEqual(icu, "e\xCC", "e\xCC"));
}

class DesktopEntriesTest : public ::testing::Test {
protected:
    DesktopEntries entries() const { return DesktopEntries({(home / "applications").string(), (system / "applications").string()}); }
    TempFolder home, system;
};

TEST_F(DesktopEntriesTest, FindsEntriesByIdWithSubfoldersAndPrecedence) {
    home.write("applications/org.example.Editor.desktop", desktopEntry("Home Editor"));
    system.write("applications/org.example.Editor.desktop", desktopEntry("System Editor"));
    system.write("applications/kde/konsole.desktop", desktopEntry("Konsole"));
    system.write("applications/notes.txt", desktopEntry("Not an entry"));
    auto found = entries();
    const auto editor = found.byId("org.example.Editor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->name, "Home Editor");
    EXPECT_EQ(editor->path, (home / "applications/org.example.Editor.desktop").string());
    ASSERT_TRUE(found.byId("kde-konsole"));
    EXPECT_EQ(found.byId("kde-konsole")->name, "Konsole");
    EXPECT_FALSE(found.byId("konsole"));
    EXPECT_FALSE(found.byId("notes"));
    EXPECT_FALSE(found.byId("org.example.editor"));
    ASSERT_TRUE(found.byIdIgnoringCase("org.example.editor"));
    EXPECT_EQ(found.byIdIgnoringCase("ORG.EXAMPLE.EDITOR")->id, "org.example.Editor");
}

TEST_F(DesktopEntriesTest, SkipsHiddenAndNonApplicationEntries) {
    // A hidden entry in the user's folder hides the system's entry of the same id.
    home.write("applications/org.example.Gone.desktop", desktopEntry("Gone", "Hidden=true\n"));
    system.write("applications/org.example.Gone.desktop", desktopEntry("Gone"));
    system.write("applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n");
    system.write("applications/tryexec.desktop", desktopEntry("Try", "TryExec=/nonexistent/tarvel-program\n"));
    system.write("applications/nodisplay.desktop", desktopEntry("Quiet", "NoDisplay=true\n"));
    system.write("applications/broken.desktop", "not a key file");
    system.write("applications/noprogram.desktop", desktopEntry("No program", "", "/nonexistent/tarvel-program --x"));
    system.write("applications/badquote.desktop", desktopEntry("Bad quote", "", "sh -c 'unterminated"));
    system.write("applications/othergroup.desktop", "[Other]\nA=b\n" + desktopEntry("Other first"));
    auto found = entries();
    EXPECT_FALSE(found.byId("org.example.Gone"));
    EXPECT_FALSE(found.byId("link"));
    EXPECT_FALSE(found.byId("tryexec"));
    EXPECT_FALSE(found.byId("broken"));
    EXPECT_FALSE(found.byId("noprogram"));
    EXPECT_FALSE(found.byId("badquote"));
    EXPECT_FALSE(found.byId("othergroup"));
    EXPECT_FALSE(found.byIdIgnoringCase("ORG.EXAMPLE.GONE"));
    ASSERT_TRUE(found.byId("nodisplay")) << "a window may well belong to an entry that the menus do not show";
}

TEST_F(DesktopEntriesTest, FindsEntriesByStartupWMClassInOrder) {
    home.write("applications/b.desktop", desktopEntry("B", "StartupWMClass=Shared\n"));
    system.write("applications/a.desktop", desktopEntry("A", "StartupWMClass=Shared\n"));
    system.write("applications/hidden.desktop", desktopEntry("H", "StartupWMClass=Ghost\nHidden=true\n"));
    system.write("applications/c.desktop", desktopEntry("C", "StartupWMClass=Ghost\n"));
    auto found = entries();
    ASSERT_TRUE(found.byStartupWMClass("Shared"));
    EXPECT_EQ(found.byStartupWMClass("Shared")->id, "b");
    EXPECT_EQ(found.byStartupWMClass("Ghost")->id, "c");
    EXPECT_FALSE(found.byStartupWMClass("shared"));
    EXPECT_FALSE(found.byStartupWMClass("Nothing"));
}

TEST_F(DesktopEntriesTest, GivesTheLocalizedName) {
    system.write("applications/org.example.Mail.desktop",
                 desktopEntry("Mail", "Name[ja]=\u30e1\u30fc\u30eb\nName[de]=Post\n"));
    const char* previous = g_getenv("LANGUAGE");
    const std::string saved = previous ? previous : "";
    g_setenv("LANGUAGE", "ja", TRUE);
    const auto japanese = entries().byId("org.example.Mail");
    if (previous) g_setenv("LANGUAGE", saved.c_str(), TRUE); else g_unsetenv("LANGUAGE");
    ASSERT_TRUE(japanese);
    EXPECT_EQ(japanese->name, "\u30e1\u30fc\u30eb");
}

TEST_F(DesktopEntriesTest, EntryWithoutNameHasNoName) {
    system.write("applications/nameless.desktop", "[Desktop Entry]\nType=Application\nExec=true\n");
    const auto nameless = entries().byId("nameless");
    ASSERT_TRUE(nameless);
    EXPECT_EQ(nameless->name, std::nullopt);
}

TEST(X11RunningApplications, NoDisplayMeansNothingRuns) {
    const char* previous = g_getenv("DISPLAY");
    const std::string saved = previous ? previous : "";
    g_unsetenv("DISPLAY");
    X11RunningApplications applications{DesktopEntries({})};
    EXPECT_TRUE(applications.list().empty());
    EXPECT_TRUE(applications.list().empty());
    if (previous) g_setenv("DISPLAY", saved.c_str(), TRUE);
}

// Waits briefly for a file that a launched program writes.
bool appears(const std::filesystem::path& file) {
    for (int i = 0; i < 200 && !std::filesystem::exists(file); ++i) std::this_thread::sleep_for(10ms);
    return std::filesystem::exists(file);
}

TEST(GioOpener, LaunchesDesktopEntriesAndExecutables) {
    TempFolder folder;
    const auto byEntry = folder / "by-entry", byProgram = folder / "by-program";
    const auto entry = folder.write("Marker.desktop", desktopEntry("Marker", "", "touch " + byEntry.string()));
    const auto program = folder.write("marker-program", "#!/bin/sh\ntouch '" + byProgram.string() + "'\n", true);
    EXPECT_TRUE(GioOpener::launch(entry.string()));
    EXPECT_TRUE(appears(byEntry));
    EXPECT_TRUE(GioOpener::launch(program.string()));
    EXPECT_TRUE(appears(byProgram));
}

TEST(GioOpener, RefusesWhatIsNoApplication) {
    TempFolder folder;
    const auto marker = folder / "ran";
    EXPECT_FALSE(GioOpener::launch(folder.write("notes.txt", "#!/bin/sh\ntouch " + marker.string() + "\n").string()));
    EXPECT_FALSE(GioOpener::launch(folder.path().string()));
    EXPECT_FALSE(GioOpener::launch(folder.write("Missing.desktop", desktopEntry("M", "", "/nonexistent/tarvel-app")).string()));
    EXPECT_FALSE(GioOpener::launch(folder.write("Link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=file:///\n").string()));
    EXPECT_FALSE(GioOpener::launch(folder.write("Garbage.desktop", "\x01\x02 not an entry").string()));
    // An executable entry file is read as an entry, never run as a script.
    EXPECT_FALSE(GioOpener::launch(folder.write("Script.desktop", "#!/bin/sh\ntouch " + marker.string() + "\n", true).string()));
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(GioOpener, CompletesFromAnotherThread) {
    TempFolder folder;
    const auto entry = folder.write("Ok.desktop", desktopEntry("Ok"));
    GioOpener opener;
    EXPECT_TRUE(openFallback(opener, entry.string()));
    EXPECT_FALSE(openFallback(opener, (folder / "Missing.desktop").string()));
    EXPECT_FALSE(openFallback(opener, folder.write("plain.txt", "text").string()));
}

} // namespace
} // namespace tarvel_focus::linux_platform
