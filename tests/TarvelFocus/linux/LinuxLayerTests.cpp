#include "DesktopEntries.h"
#include "FindTarget.h"
#include "GioOpener.h"
#include "IcuNormalizer.h"
#include "TestFiles.h"
#include "X11RunningApplications.h"

#include <chrono>
#include <glib.h>
#include <gtest/gtest.h>
#include <thread>

namespace tarvel_focus::linux_platform {
namespace {

namespace fs = std::filesystem;
using tarvel::test::desktopEntry;
using tarvel::test::TemporaryDirectory;
using tarvel::test::writeFile;
using namespace std::chrono_literals;

TEST(IcuNormalizer, CanonicalFormsAreEqualCompatibilityFormsAndCaseAreNot) {
    ASSERT_TRUE(IcuNormalizer::available()) << "ICU could not be loaded";
    const IcuNormalizer icu;
    EXPECT_TRUE(canonicallyEqual(icu, "Caf\u00e9", "Cafe\u0301"));
    EXPECT_TRUE(canonicallyEqual(icu, "\u212bngstr\u00f6m", "A\u030angstro\u0308m"));              // ANGSTROM SIGN
    EXPECT_TRUE(canonicallyEqual(icu, "\u30ac", "\u30ab\u3099"));                                  // ガ
    EXPECT_TRUE(canonicallyEqual(icu, "q\u0307\u0323", "q\u0323\u0307"));  // marks of two classes in either order
    EXPECT_FALSE(canonicallyEqual(icu, "\ufb01le", "file"));               // ligature
    EXPECT_FALSE(canonicallyEqual(icu, "Caf\u00e9", "caf\u00e9"));
}

TEST(IcuNormalizer, RefusesInvalidUtf8) {
    const IcuNormalizer icu;
    EXPECT_EQ(icu.composed("\xC3"), std::nullopt);
    EXPECT_EQ(icu.composed("\xED\xA0\x80"), std::nullopt);  // encoded surrogate
    EXPECT_FALSE(canonicallyEqual(icu, "e\xCC", "e\xCD"));
    EXPECT_TRUE(canonicallyEqual(icu, "e\xCC", "e\xCC"));
}

class DesktopEntriesTest : public ::testing::Test {
protected:
    DesktopEntries entries() const { return DesktopEntries({(home / "applications").string(), (system / "applications").string()}); }
    void write(const TemporaryDirectory& root, const std::string& file, const std::string& content) {
        writeFile(root / "applications" / file, content);
    }
    TemporaryDirectory home, system;
};

TEST_F(DesktopEntriesTest, FindsEntriesByIdWithSubfoldersAndPrecedence) {
    write(home, "org.example.Editor.desktop", desktopEntry("Home Editor"));
    write(system, "org.example.Editor.desktop", desktopEntry("System Editor"));
    write(system, "kde/konsole.desktop", desktopEntry("Konsole"));
    write(system, "notes.txt", desktopEntry("Not an entry"));
    write(system, "nameless.desktop", "[Desktop Entry]\nType=Application\nExec=true\n");
    auto found = entries();
    ASSERT_TRUE(found.byId("org.example.Editor"));
    EXPECT_EQ(found.byId("org.example.Editor")->name, "Home Editor");
    EXPECT_EQ(found.byId("org.example.Editor")->path, (home / "applications/org.example.Editor.desktop").string());
    ASSERT_TRUE(found.byId("kde-konsole"));
    EXPECT_EQ(found.byId("kde-konsole")->name, "Konsole");
    EXPECT_FALSE(found.byId("konsole"));
    EXPECT_FALSE(found.byId("notes"));
    EXPECT_FALSE(found.byId("org.example.editor"));
    EXPECT_EQ(found.byIdIgnoringCase("ORG.EXAMPLE.EDITOR")->id, "org.example.Editor");
    ASSERT_TRUE(found.byId("nameless"));
    EXPECT_EQ(found.byId("nameless")->name, std::nullopt);
}

TEST_F(DesktopEntriesTest, SkipsHiddenAndNonApplicationEntries) {
    // A hidden entry in the user's folder hides the system's entry of the same id.
    write(home, "org.example.Gone.desktop", desktopEntry("Gone", "Hidden=true\n"));
    write(system, "org.example.Gone.desktop", desktopEntry("Gone"));
    write(system, "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org\n");
    write(system, "tryexec.desktop", desktopEntry("Try", "TryExec=/nonexistent/tarvel-program\n"));
    write(system, "broken.desktop", "not a key file");
    write(system, "noprogram.desktop", desktopEntry("No program", "", "/nonexistent/tarvel-program --x"));
    write(system, "nodisplay.desktop", desktopEntry("Quiet", "NoDisplay=true\n"));
    auto found = entries();
    for (const char* id : {"org.example.Gone", "link", "tryexec", "broken", "noprogram"}) EXPECT_FALSE(found.byId(id)) << id;
    EXPECT_FALSE(found.byIdIgnoringCase("ORG.EXAMPLE.GONE"));
    EXPECT_TRUE(found.byId("nodisplay")) << "a window may well belong to an entry that the menus do not show";
}

TEST_F(DesktopEntriesTest, FindsEntriesByStartupWMClassInOrder) {
    write(home, "b.desktop", desktopEntry("B", "StartupWMClass=Shared\n"));
    write(system, "a.desktop", desktopEntry("A", "StartupWMClass=Shared\n"));
    write(system, "hidden.desktop", desktopEntry("H", "StartupWMClass=Ghost\nHidden=true\n"));
    write(system, "c.desktop", desktopEntry("C", "StartupWMClass=Ghost\n"));
    auto found = entries();
    ASSERT_TRUE(found.byStartupWMClass("Shared"));
    EXPECT_EQ(found.byStartupWMClass("Shared")->id, "b");
    EXPECT_EQ(found.byStartupWMClass("Ghost")->id, "c");
    EXPECT_FALSE(found.byStartupWMClass("shared"));
}

TEST_F(DesktopEntriesTest, GivesTheLocalizedName) {
    write(system, "org.example.Mail.desktop", desktopEntry("Mail", "Name[ja]=\u30e1\u30fc\u30eb\nName[de]=Post\n"));
    const char* previous = g_getenv("LANGUAGE");
    const std::string saved = previous ? previous : "";
    g_setenv("LANGUAGE", "ja", TRUE);
    const auto japanese = entries().byId("org.example.Mail");
    if (previous) g_setenv("LANGUAGE", saved.c_str(), TRUE); else g_unsetenv("LANGUAGE");
    ASSERT_TRUE(japanese);
    EXPECT_EQ(japanese->name, "\u30e1\u30fc\u30eb");
}

TEST(X11RunningApplications, NoDisplayMeansNothingRuns) {
    const char* previous = g_getenv("DISPLAY");
    const std::string saved = previous ? previous : "";
    g_unsetenv("DISPLAY");
    EXPECT_TRUE(X11RunningApplications{DesktopEntries({})}.list().empty());
    if (previous) g_setenv("DISPLAY", saved.c_str(), TRUE);
}

// Waits briefly for a file that a launched program writes.
bool appears(const fs::path& file) {
    for (int i = 0; i < 200 && !fs::exists(file); ++i) std::this_thread::sleep_for(10ms);
    return fs::exists(file);
}

TEST(GioOpener, LaunchesDesktopEntriesAndExecutables) {
    TemporaryDirectory folder;
    const auto byEntry = folder / "by-entry", byProgram = folder / "by-program";
    const auto entry = writeFile(folder / "Marker.desktop", desktopEntry("Marker", "", "touch " + byEntry.string()));
    const auto program = tarvel::test::writeTool(folder / "marker-program", "touch '" + byProgram.string() + "'");
    EXPECT_TRUE(GioOpener::launch(entry.string()));
    EXPECT_TRUE(appears(byEntry));
    EXPECT_TRUE(GioOpener::launch(program.string()));
    EXPECT_TRUE(appears(byProgram));
}

TEST(GioOpener, RefusesWhatIsNoApplication) {
    TemporaryDirectory folder;
    const auto marker = folder / "ran";
    const std::string script = "#!/bin/sh\ntouch " + marker.string() + "\n";
    EXPECT_FALSE(GioOpener::launch(writeFile(folder / "notes.txt", script).string()));
    EXPECT_FALSE(GioOpener::launch(folder.path().string()));
    EXPECT_FALSE(GioOpener::launch(writeFile(folder / "Missing.desktop", desktopEntry("M", "", "/nonexistent/tarvel-app")).string()));
    EXPECT_FALSE(GioOpener::launch(writeFile(folder / "Link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=file:///\n").string()));
    EXPECT_FALSE(GioOpener::launch(writeFile(folder / "Garbage.desktop", "\x01\x02 not an entry").string()));
    // An executable entry file is read as an entry, never run as a script.
    fs::permissions(writeFile(folder / "Script.desktop", script), fs::perms(0755));
    EXPECT_FALSE(GioOpener::launch((folder / "Script.desktop").string()));
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(fs::exists(marker));
}

} // namespace
} // namespace tarvel_focus::linux_platform
