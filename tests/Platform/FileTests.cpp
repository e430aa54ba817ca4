// Writing through a linked karabiner.json is covered by the writer's tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Platform/FileIO.h"
#include "Platform/FileManager.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::listing;
using test::permissionBits;
using test::readFile;
using test::TemporaryDirectory;
using test::writeFile;

TEST(AtomicWrite, ReplacesContentAndKeepsPermissionBits) {
    TemporaryDirectory dir;
    auto target = writeFile(dir / "karabiner.json", "old");
    for (auto bits : {fs::perms(0600), fs::perms(0640)}) {
        fs::permissions(target, bits);
        ASSERT_EQ(writeFileAtomically(target, "new content"), std::nullopt);
        EXPECT_EQ(readFile(target), "new content");
        EXPECT_EQ(permissionBits(target), static_cast<unsigned>(bits));
        EXPECT_EQ(listing(dir.path()), std::set<std::string>{"karabiner.json"});
    }
}

TEST(AtomicWrite, AFailedWriteLeavesNoTemporaryFileBehind) {
    TemporaryDirectory dir;
    // A non-empty folder at the target makes the final rename fail after everything was written.
    writeFile(dir / "karabiner.json/keep", "x");
    auto error = writeFileAtomically(dir / "karabiner.json", "new");
    ASSERT_NE(error, std::nullopt);
    EXPECT_NE(error->description.find(dir.path().string()), std::string::npos);
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"karabiner.json"});

    EXPECT_NE(writeFileAtomically(dir / "missing-folder/karabiner.json", "new"), std::nullopt);
}

TEST(AtomicWrite, ACheckJustBeforeTheReplacementCanStillStopIt) {
    TemporaryDirectory dir;
    auto target = writeFile(dir / "karabiner.json", "old");
    int calls = 0;
    auto error = writeFileAtomically(target, "new", [&]() -> std::optional<Error> {
        ++calls;
        EXPECT_EQ(listing(dir.path()).size(), 2u) << "the new content is on disk beside the file";
        return Error{"changed", ESTALE};
    });
    ASSERT_NE(error, std::nullopt);
    EXPECT_EQ(error->description, "changed");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"karabiner.json"});
}

TEST(ReadWholeFile, OnlyRegularFilesWithinTheLimitAreRead) {
    TemporaryDirectory dir;
    writeFile(dir / "small.json", "0123456789");
    fs::create_symlink(dir / "small.json", dir / "link.json");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    const struct {
        fs::path path;
        std::size_t limit;
        const char* expected;  // the content, or the end of the error text
    } cases[] = {
        {dir / "small.json", 10, "0123456789"},
        {dir / "link.json", 10, "0123456789"},
        {dir / "small.json", 9, ": larger than 0 MB"},
        {dir / "fifo", maxReadBytes, ": not a regular file"},  // would block forever if opened for reading
        {"/dev/zero", maxReadBytes, ": not a regular file"},   // would never end
        {dir / "folder", maxReadBytes, ": Is a directory"},
        {dir / "absent", maxReadBytes, ": No such file or directory"},
    };
    for (const auto& c : cases) {
        auto result = readWholeFile(c.path, c.limit);
        const std::string got = result ? *result : result.error().description;
        EXPECT_TRUE(got.ends_with(c.expected)) << c.path << ": " << got;
    }
}

TEST(FileManager, CopyMakesAnIndependentRegularFileWithTheSameBits) {
    TemporaryDirectory dir;
    auto& fm = FileManager::defaultManager();
    writeFile(dir / "real.json", "content");
    fs::permissions(dir / "real.json", fs::perms(0600));
    fs::create_symlink(dir / "real.json", dir / "link.json");

    ASSERT_EQ(fm.copyItem(dir / "link.json", dir / "copy.json"), std::nullopt);
    EXPECT_FALSE(fs::is_symlink(dir / "copy.json"));
    EXPECT_EQ(permissionBits(dir / "copy.json"), 0600u);
    writeFile(dir / "real.json", "changed");
    EXPECT_EQ(readFile(dir / "copy.json"), "content");
    // Never over an existing file.
    EXPECT_NE(fm.copyItem(dir / "real.json", dir / "copy.json"), std::nullopt);
    EXPECT_EQ(readFile(dir / "copy.json"), "content");
}

TEST(FileManager, ASecondNameIsTheSameFileAndNeverTakesAUsedName) {
    TemporaryDirectory dir;
    auto& fm = FileManager::defaultManager();
    writeFile(dir / "real.json", "content");
    fs::create_symlink(dir / "real.json", dir / "link.json");
    writeFile(dir / "taken.json", "other");
    ASSERT_EQ(fm.linkItem(dir / "link.json", dir / "second.json"), std::nullopt);
    EXPECT_FALSE(fs::is_symlink(dir / "second.json"));
    EXPECT_TRUE(fs::equivalent(dir / "real.json", dir / "second.json"));
    auto error = fm.linkItem(dir / "real.json", dir / "taken.json");
    ASSERT_NE(error, std::nullopt);
    EXPECT_EQ(error->code, EEXIST);
    EXPECT_EQ(readFile(dir / "taken.json"), "other");
}

TEST(FileManager, ALinkCountsAsWhatItLeadsTo) {
    TemporaryDirectory dir;
    auto& fm = FileManager::defaultManager();
    fs::create_symlink(test::writeTool(dir / "tool", "exit 0"), dir / "link");
    fs::create_symlink(dir / "absent", dir / "dangling");
    EXPECT_TRUE(fm.isExecutableFile(dir / "link"));
    EXPECT_FALSE(fm.isExecutableFile(dir / "dangling"));
    EXPECT_FALSE(fm.fileExists(dir / "dangling"));
}

} // namespace
} // namespace tarvel
