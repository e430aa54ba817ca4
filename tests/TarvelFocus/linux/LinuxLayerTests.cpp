#include "DesktopEntries.h"
#include "FindTarget.h"
#include "GioOpener.h"
#include "IcuNormalizer.h"
#include "TestFiles.h"
#include "X11RunningApplications.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>
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

TEST(IcuNormalizer, CanonicalFormsAreEqualCompatibilityFormsCaseAndInvalidTextAreNot) {
    ASSERT_TRUE(IcuNormalizer::available()) << "ICU could not be loaded";
    const IcuNormalizer icu;
    EXPECT_TRUE(canonicallyEqual(icu, "Caf\u00e9", "Cafe\u0301"));
    EXPECT_TRUE(canonicallyEqual(icu, "\u212bngstr\u00f6m", "A\u030angstro\u0308m"));              // ANGSTROM SIGN
    EXPECT_TRUE(canonicallyEqual(icu, "\u30ac", "\u30ab\u3099"));                                  // ガ
    EXPECT_TRUE(canonicallyEqual(icu, "q\u0307\u0323", "q\u0323\u0307"));  // marks of two classes in either order
    EXPECT_FALSE(canonicallyEqual(icu, "\ufb01le", "file"));               // ligature
    EXPECT_FALSE(canonicallyEqual(icu, "Caf\u00e9", "caf\u00e9"));
    // Invalid UTF-8 has no composed form.
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

TEST_F(DesktopEntriesTest, LinkedFoldersAreEnteredOnceAndLoopsEnd) {
    write(system, "org.example.Top.desktop", desktopEntry("Top"));
    write(system, "kde/org.example.Deep.desktop", desktopEntry("Deep"));
    TemporaryDirectory elsewhere;
    writeFile(elsewhere / "org.example.Linked.desktop", desktopEntry("Linked"));
    const fs::path folder = system / "applications";
    fs::create_directory_symlink(".", folder / "s1");        // two links to the folder itself
    fs::create_directory_symlink(".", folder / "s2");
    fs::create_directory_symlink("..", folder / "kde/up");   // and one back up from below
    fs::create_directory_symlink(elsewhere.path(), folder / "a-linked");
    fs::create_directory_symlink(elsewhere.path(), folder / "b-linked");  // the same folder again
    std::string deep = "n";
    for (int level = 1; level < 12; ++level, deep += "/n") write(system, deep + "/level" + std::to_string(level) + ".desktop", desktopEntry("Nested"));

    const auto started = std::chrono::steady_clock::now();
    auto found = entries();
    EXPECT_TRUE(found.byId("org.example.Top"));
    EXPECT_FALSE(found.byId("s1-org.example.Top")) << "a folder is entered once";
    EXPECT_TRUE(found.byId("kde-org.example.Deep"));
    EXPECT_TRUE(found.byId("a-linked-org.example.Linked"));
    EXPECT_FALSE(found.byId("b-linked-org.example.Linked")) << "a folder is entered once";
    EXPECT_TRUE(found.byId("n-n-n-n-n-n-n-n-level8"));
    EXPECT_FALSE(found.byId("n-n-n-n-n-n-n-n-n-level9")) << "no deeper than eight folders";
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
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
bool appears(const fs::path& file) { return tarvel::test::eventually([&] { return fs::exists(file); }, 2s); }

// Executables and entry files, each with a "%" in its path: the plain launch is the same path.
TEST(GioOpener, RunsTheFileItWasGivenWhateverPercentSignsItsPathHolds) {
    TemporaryDirectory folder;
    // Each path with a "%" has a decoy where field-code expansion would lead.
    const struct {
        const char* path;
        const char* decoy;
    } cases[] = {{"x%fy", "xy"}, {"a%%b", "a%b"}, {"p%u", "p"}, {"100%", nullptr}, {"%k%c%i", ""}};
    for (const auto& c : cases) {
        const auto ran = folder / "ran", decoyRan = folder / "decoy-ran";
        fs::remove(ran);
        fs::remove(decoyRan);
        const auto program = tarvel::test::writeTool(folder / c.path, "touch '" + ran.string() + "'");
        if (c.decoy && *c.decoy) tarvel::test::writeTool(folder / c.decoy, "touch '" + decoyRan.string() + "'");
        EXPECT_TRUE(GioOpener::launch(program.string())) << c.path;
        EXPECT_TRUE(appears(ran)) << c.path;
        EXPECT_FALSE(fs::exists(decoyRan)) << c.path;
    }
    // An entry file with a "%" in its path is read from that path.
    const auto byEntry = folder / "by-entry";
    const auto entry = writeFile(folder / "Launch%f.desktop", desktopEntry("Launch", "", "touch " + byEntry.string()));
    EXPECT_TRUE(GioOpener::launch(entry.string()));
    EXPECT_TRUE(appears(byEntry));
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

// An entry file that is a FIFO would hold the launch until something writes to it.
TEST(GioOpener, RefusesAFifoAtOnce) {
    TemporaryDirectory folder;
    const auto fifo = folder / "Pipe.desktop";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto launched = std::async(std::launch::async, [&] { return GioOpener::launch(fifo.string()); });
    const bool answered = launched.wait_for(2s) == std::future_status::ready;
    if (!answered) {  // let the blocked open through
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    EXPECT_TRUE(answered) << "the launch waited on the FIFO";
    EXPECT_FALSE(launched.get());
}

} // namespace
} // namespace tarvel_focus::linux_platform
