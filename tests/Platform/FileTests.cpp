#include <gtest/gtest.h>

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
    auto target = dir / "karabiner.json";
    writeFile(target, "old");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_EQ(writeFileAtomically(target, "new content"), std::nullopt);
    EXPECT_EQ(readFile(target), "new content");
    EXPECT_EQ(permissionBits(target), 0600u);
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"karabiner.json"});

    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(writeFileAtomically(target, "again"), std::nullopt);
    EXPECT_EQ(permissionBits(target), 0640u);
}

TEST(AtomicWrite, WritesThroughASymbolicLinkAndLeavesTheLinkInPlace) {
    TemporaryDirectory dir;
    auto dotfiles = dir / "dotfiles/karabiner/karabiner.json";
    writeFile(dotfiles, "old");
    fs::create_directories(dir / "config");
    fs::create_symlink("../dotfiles/karabiner/karabiner.json", dir / "config/karabiner.json");

    ASSERT_EQ(writeFileAtomically(dir / "config/karabiner.json", "new"), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(dir / "config/karabiner.json"));
    EXPECT_EQ(readFile(dotfiles), "new");
    EXPECT_EQ(listing(dir / "dotfiles/karabiner"), std::set<std::string>{"karabiner.json"});
    EXPECT_EQ(listing(dir / "config"), std::set<std::string>{"karabiner.json"});
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

TEST(FileManager, CopyMakesAnIndependentRegularFileWithTheSameBits) {
    TemporaryDirectory dir;
    auto& fm = FileManager::defaultManager();
    writeFile(dir / "real.json", "content");
    fs::permissions(dir / "real.json", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir / "real.json", dir / "link.json");

    ASSERT_EQ(fm.copyItem(dir / "link.json", dir / "copy.json"), std::nullopt);
    EXPECT_FALSE(fs::is_symlink(dir / "copy.json"));
    EXPECT_EQ(readFile(dir / "copy.json"), "content");
    EXPECT_EQ(permissionBits(dir / "copy.json"), 0600u);

    writeFile(dir / "real.json", "changed");
    EXPECT_EQ(readFile(dir / "copy.json"), "content");
    // Never over an existing file.
    EXPECT_NE(fm.copyItem(dir / "real.json", dir / "copy.json"), std::nullopt);
    EXPECT_EQ(readFile(dir / "copy.json"), "content");
}

TEST(FileManager, ExecutableMeansARegularFileTheUserMayRun) {
    TemporaryDirectory dir;
    auto& fm = FileManager::defaultManager();
    test::writeTool(dir / "tool", "exit 0");
    writeFile(dir / "plain", "");
    fs::create_directories(dir / "folder");
    fs::create_symlink(dir / "tool", dir / "link");

    EXPECT_TRUE(fm.isExecutableFile(dir / "tool"));
    EXPECT_TRUE(fm.isExecutableFile(dir / "link"));
    EXPECT_FALSE(fm.isExecutableFile(dir / "plain"));
    EXPECT_FALSE(fm.isExecutableFile(dir / "folder"));
    EXPECT_FALSE(fm.isExecutableFile(dir / "absent"));

    fs::create_symlink(dir / "absent", dir / "dangling");
    EXPECT_FALSE(fm.fileExists(dir / "dangling"));
    EXPECT_TRUE(fm.isDirectory(dir / "folder"));
}

} // namespace
} // namespace tarvel
