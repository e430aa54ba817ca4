// The Cocoa services of the inventory against real bundles in a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#import <AppKit/AppKit.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "Apps/AppInventory.h"
#include "Apps/mac/BundleAppCatalog.h"
#include "Apps/mac/FoundationNameCollation.h"
#include "Apps/mac/MainBundleIdentity.h"
#include "Apps/mac/WorkspaceIcon.h"
#include "Apps/mac/WorkspaceRunningApplications.h"
#include "TestSupport.h"

namespace tarvel {

namespace {

using ::testing::ElementsAre;
using test::TemporaryDirectory;
namespace fs = std::filesystem;

// The product's catalog over folders of the test's own.
struct RootedCatalog final : AppCatalog {
    BundleAppCatalog real;
    std::vector<fs::path> roots;
    std::vector<fs::path> searchRoots() const override { return roots; }
    std::string applicationExtension() const override { return real.applicationExtension(); }
    std::optional<std::vector<fs::path>> contentsOfDirectory(const fs::path& folder) const override {
        return real.contentsOfDirectory(folder);
    }
    std::optional<CatalogEntry> bundle(const fs::path& path) const override { return real.bundle(path); }
};

void writeBundle(const fs::path& app, const std::string& identifier) {
    test::writeFile(app / "Contents/Info.plist",
                    R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>CFBundleIdentifier</key><string>)" +
                        identifier + "</string></dict></plist>");
}

// A width x height image, its left half opaque red, its right half transparent.
NSImage* halfRedImage(CGFloat width, CGFloat height) {
    return [NSImage imageWithSize:NSMakeSize(width, height)
                          flipped:NO
                   drawingHandler:^BOOL(NSRect) {
                       [[NSColor redColor] setFill];
                       NSRectFill(NSMakeRect(0, 0, width / 2, height));
                       return YES;
                   }];
}

NSBitmapImageRep* decodedPNG(const std::string& dataURI) {
    const std::string base64 = dataURI.substr(AppInventory::iconDataURIPrefix.size());
    NSData* png = [[NSData alloc] initWithBase64EncodedString:@(base64.c_str()) options:0];
    if (!png || png.length < 8) return nil;
    const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (std::memcmp(png.bytes, signature, sizeof signature) != 0) return nil;
    return [[NSBitmapImageRep alloc] initWithData:png];
}

TEST(FoundationNameCollation, OrdersNamesAsTheFinderDoes) {
    const FoundationNameCollation collation;
    EXPECT_LT(collation.compare("App 2", "App 10"), 0);
    EXPECT_LT(collation.compare("apple", "Banana"), 0);
    EXPECT_GT(collation.compare("Banana", "apple"), 0);
    EXPECT_EQ(collation.compare("Notes", "Notes"), 0);
}

TEST(WorkspaceIcon, DrawsAStretched48PixelSquarePNGKeepingTransparencyOnAnyThread) {
    EXPECT_EQ(WorkspaceIcon::wrap(nil), nullptr);
    EXPECT_EQ(AppInventory::iconDataURI(nullptr, AppInventory::iconSide), std::nullopt);

    const IconImagePtr icon = WorkspaceIcon::wrap(halfRedImage(40, 10));
    const auto uri = AppInventory::iconDataURI(icon.get(), AppInventory::iconSide);
    ASSERT_TRUE(uri);
    EXPECT_EQ(uri->rfind("data:image/png;base64,", 0), 0u);
    EXPECT_EQ(uri->find('\n'), std::string::npos);
    NSBitmapImageRep* bitmap = decodedPNG(*uri);
    ASSERT_NE(bitmap, nil);
    // Stretched to the square, 48 pixels whatever the screens' scale.
    EXPECT_EQ(bitmap.pixelsWide, 48);
    EXPECT_EQ(bitmap.pixelsHigh, 48);
    EXPECT_GT([bitmap colorAtX:12 y:24].alphaComponent, 0.9);  // red half
    EXPECT_LT([bitmap colorAtX:36 y:24].alphaComponent, 0.1);  // transparent half

    // The inventory is collected on a worker thread: the same picture there.
    std::optional<std::string> fromWorker;
    std::thread([&] { fromWorker = AppInventory::iconDataURI(icon.get(), AppInventory::iconSide); }).join();
    EXPECT_EQ(fromWorker, uri);
}

TEST(BundleAppCatalog, SearchesTheFiveApplicationFoldersInOrder) {
    const auto roots = BundleAppCatalog().searchRoots();
    ASSERT_EQ(roots.size(), 5u);
    EXPECT_EQ(roots[0], "/Applications");
    EXPECT_EQ(roots[1], "/System/Applications");
    EXPECT_EQ(roots[2], "/Applications/Utilities");
    EXPECT_EQ(roots[3], "/System/Applications/Utilities");
    EXPECT_EQ(roots[4].filename(), "Applications");
    EXPECT_EQ(BundleAppCatalog().applicationExtension(), "app");
}

TEST(BundleAppCatalog, ListsOneLevelWithoutHiddenItemsAndReadsBundles) {
    TemporaryDirectory folder;
    writeBundle(folder / "Notes.app", "com.example.Notes");
    fs::create_directories(folder / "Broken.app");
    fs::create_directories(folder / ".Hidden.app");
    test::writeFile(folder / "Inner/Deep.app/Contents/Info.plist", "");

    const BundleAppCatalog catalog;
    auto entries = catalog.contentsOfDirectory(folder.path());
    ASSERT_TRUE(entries);
    std::vector<std::string> names;
    for (const auto& entry : *entries) names.push_back(entry.filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_THAT(names, ElementsAre("Broken.app", "Inner", "Notes.app"));
    EXPECT_EQ(catalog.contentsOfDirectory(folder / "missing"), std::nullopt);

    const auto notes = catalog.bundle(folder / "Notes.app");
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->bundleIdentifier, "com.example.Notes");
    EXPECT_NE(notes->icon, nullptr);
    const auto broken = catalog.bundle(folder / "Broken.app");
    ASSERT_TRUE(broken);  // listed, without an identifier
    EXPECT_EQ(broken->bundleIdentifier, std::nullopt);
}

TEST(BundleAppCatalog, InstalledNamesLoseEveryAppFragmentAndLeaveTheApplicationItselfOut) {
    TemporaryDirectory first, second;
    writeBundle(first / "My.app Tools.app", "com.example.Tools");
    writeBundle(first / "Tarvel.app", "app.tarvel.Tarvel");
    writeBundle(second / "My.app Tools.app", "com.example.Tools");
    test::writeFile(first / "Readme.APP/Contents/Info.plist", "");

    RootedCatalog catalog;
    catalog.roots = {first.path(), second.path()};
    struct : OwnIdentity {
        std::optional<std::string> bundleIdentifier() const override { return "app.tarvel.Tarvel"; }
        std::optional<fs::path> executablePath() const override { return std::nullopt; }
    } identity;
    const WorkspaceRunningApplications running;
    const FoundationNameCollation collation;
    const auto records = AppInventory::installed({catalog, running, collation, identity});
    ASSERT_EQ(records.size(), 2u);
    for (const auto& record : records) {
        EXPECT_EQ(record.name, "My Tools");
        EXPECT_EQ(record.bundleId, "com.example.Tools");
        EXPECT_TRUE(record.icon);
    }
    // Equal names keep the order of the roots.
    EXPECT_EQ(fs::path(*records[0].path).parent_path().filename(), first.path().filename());
}

TEST(MainBundleIdentity, NamesThisProcessesExecutable) {
    const auto executable = MainBundleIdentity().executablePath();
    ASSERT_TRUE(executable);
    EXPECT_TRUE(fs::exists(*executable));
}

} // namespace

} // namespace tarvel
