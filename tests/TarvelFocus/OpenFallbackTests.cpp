#include "Focus.h"
#include "OpenFallback.h"

#include "Fakes.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarvel_focus {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeApplications;
using testing::FakeNormalizer;
using testing::FakeOpener;
using Mode = FakeOpener::Mode;

// A scratch folder holding one application file, made the working folder for the test.
class FallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        tarvel::test::writeFile(folder / "App.desktop", "[Desktop Entry]\n");
        fs::create_directory(folder / "Bundle.app");
        fs::current_path(folder.path());
    }
    void TearDown() override { fs::current_path(previous); }
    tarvel::test::TemporaryDirectory folder;
    // What the working folder reads back as: on macOS the temporary folder lies behind a link
    // (/var -> /private/var).
    fs::path canonical = fs::canonical(folder.path());
    fs::path previous = fs::current_path();
};

TEST_F(FallbackTest, AbsentEmptyOrMissingPathFailsWithoutAnOpenAttempt) {
    FakeOpener opener(Mode::succeed);
    EXPECT_FALSE(openFallback(opener, std::nullopt));
    EXPECT_FALSE(openFallback(opener, ""));
    EXPECT_FALSE(openFallback(opener, (folder / "Missing.desktop").string()));
    EXPECT_FALSE(openFallback(opener, "Missing.desktop"));
    // The path is used as given: no tilde expansion, no trimming.
    EXPECT_FALSE(openFallback(opener, "~/App.desktop"));
    EXPECT_FALSE(openFallback(opener, (folder / "App.desktop").string() + " "));
    EXPECT_TRUE(opener.opened.empty());
}

// Only a file (an entry file, a program) or a folder (a bundle) can be an application. Opening
// anything else could wait for a writer that never comes: it is refused before any open.
TEST_F(FallbackTest, RefusesAtOnceWhatIsNeitherAFileNorAFolder) {
    ASSERT_EQ(::mkfifo((folder / "Pipe").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((folder / "Pipe.desktop").c_str(), 0600), 0);
    fs::create_directory(folder / "Pipe.app");
    fs::create_symlink(folder / "Pipe.desktop", folder / "Link.desktop");
    FakeOpener opener(Mode::succeed);
    for (const char* path : {"Pipe", "Pipe.desktop", "Link.desktop", "/dev/null"})
        EXPECT_FALSE(openFallback(opener, path)) << path;
    EXPECT_TRUE(opener.opened.empty());
    // A link to an application is followed.
    fs::create_symlink(folder / "App.desktop", folder / "Linked.desktop");
    EXPECT_TRUE(openFallback(opener, "Linked.desktop"));
}

TEST_F(FallbackTest, OpensFilesAndFoldersByAbsolutePath) {
    FakeOpener opener(Mode::succeed);
    EXPECT_TRUE(openFallback(opener, (folder / "App.desktop").string()));
    EXPECT_TRUE(openFallback(opener, "App.desktop"));
    EXPECT_TRUE(openFallback(opener, "./Bundle.app"));
    // A leading tilde is a folder of that name, not the home folder.
    tarvel::test::writeFile(folder / "~/Tilde.desktop", "");
    EXPECT_TRUE(openFallback(opener, "~/Tilde.desktop"));
    ASSERT_EQ(opener.opened.size(), 4u);
    EXPECT_EQ(opener.opened[0], (folder / "App.desktop").string());
    EXPECT_EQ(opener.opened[1], (canonical / "App.desktop").string());
    EXPECT_EQ(fs::path(opener.opened[2]), canonical / "./Bundle.app");
    EXPECT_EQ(fs::path(opener.opened[3]), canonical / "~/Tilde.desktop");
}

TEST_F(FallbackTest, ReportsThePlatformsOutcome) {
    FakeOpener failing(Mode::fail);
    EXPECT_FALSE(openFallback(failing, "App.desktop"));
    EXPECT_EQ(failing.opened.size(), 1u);

    FakeOpener fromAnotherThread(Mode::succeedLater);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(openFallback(fromAnotherThread, "App.desktop", 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "returns on completion, not at the time limit";
}

TEST_F(FallbackTest, GivesUpAtTheTimeLimitAndIgnoresALateCompletion) {
    FakeOpener silent(Mode::never);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(openFallback(silent, "App.desktop", 200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    // The completion outlives the wait; running it now touches nothing freed.
    ASSERT_TRUE(silent.kept);
    silent.kept(true);

    FakeOpener slow(Mode::succeedLater);
    slow.delay = 300ms;
    EXPECT_FALSE(openFallback(slow, "App.desktop", 50ms));
}

TEST_F(FallbackTest, RunFocusesARunningApplicationOrFallsBack) {
    FakeApplications apps;
    apps.add("x", "X", "a.b").add("menu", "M", "m.n", ActivationPolicy::accessory);
    FakeNormalizer normalizer;
    FakeOpener opener(Mode::succeed);

    EXPECT_EQ(run(parse({"--name", "X", "--fallback", "App.desktop"}), apps, normalizer, opener), ExitStatus::success);
    EXPECT_EQ(apps.activated, std::vector<std::string>{"x"});
    EXPECT_TRUE(opener.opened.empty()) << "a running application is never opened again";

    EXPECT_EQ(run(parse({"--bundle-id", "m.n", "--fallback", "App.desktop"}), apps, normalizer, opener),
              ExitStatus::success);
    EXPECT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(apps.activated.size(), 1u);

    EXPECT_EQ(run(parse({}), apps, normalizer, opener), ExitStatus::failure);
    EXPECT_EQ(run(parse({"--name", "Y"}), apps, normalizer, opener), ExitStatus::failure);
    EXPECT_EQ(run(parse({"--name", "Y", "--fallback"}), apps, normalizer, opener), ExitStatus::failure);
    EXPECT_EQ(run(parse({"--name", "Y", "--fallback", "Missing.desktop"}), apps, normalizer, opener),
              ExitStatus::failure);
    EXPECT_EQ(opener.opened.size(), 1u);

    FakeOpener failing(Mode::fail);
    EXPECT_EQ(run(parse({"--name", "Y", "--fallback", "App.desktop"}), apps, normalizer, failing), ExitStatus::failure);
    // A refused activation fails, and a running application is still never opened again.
    apps.acceptsActivation = false;
    EXPECT_EQ(run(parse({"--name", "X", "--fallback", "App.desktop"}), apps, normalizer, opener), ExitStatus::failure);
    EXPECT_EQ(apps.activated.size(), 2u);
    EXPECT_EQ(opener.opened.size(), 1u);
    FakeOpener silent(Mode::never);
    EXPECT_EQ(run(parse({"--fallback", "App.desktop"}), apps, normalizer, silent, 20ms), ExitStatus::failure);
}

} // namespace
} // namespace tarvel_focus
