// The Linux inventory services against real files: desktop entries, icon theme, ICU.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <regex>

#include "Apps/AppInventory.h"
#include "Apps/linux/DesktopAppCatalog.h"
#include "Apps/linux/DesktopEntryFile.h"
#include "Apps/linux/DesktopIcons.h"
#include "Apps/linux/IcuNameCollation.h"
#include "Apps/linux/ProcessIdentity.h"
#include "Apps/linux/X11RunningApplications.h"
#include "InventoryFakes.h"
#include "XdgTree.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using testing::Rgba;
using testing::XdgTree;
using testing::names;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr Rgba red{255, 0, 0, 255}, blue{0, 0, 255, 255}, grey{128, 128, 128, 255}, clear{0, 0, 0, 0};

XdgTree* tree = nullptr;

// The tree every test reads; written once, before GLib first reads the XDG variables.
void buildTree(XdgTree& t) {
    const fs::path home = t.dataHome() / "applications", data1 = t.dataDir(1) / "applications";
    t.entry(home, "org.example.Duplicate.desktop", "Duplicate", "Icon=transparent\n");
    t.entry(data1, "org.example.Duplicate.desktop", "Duplicate", "Icon=wide\n");
    t.entry(home, "my-tools.desktop", "My.app Tools", "Name[de]=Meine.app Werkzeuge\nIcon=vector\n");
    t.entry(home, "quotes.desktop", "Café \"Quoted\" \\\\ Back", "Icon=wide-vector\n");
    t.entry(home, "app2.desktop", "App 2", "Icon=big\n");
    t.entry(home, "app10.desktop", "App 10", "Icon=" + (t.root() / "absolute.png").string() + "\n");
    t.entry(home, "lower-apple.desktop", "apple", "Icon=does-not-exist\n");
    t.entry(data1, "upper-banana.desktop", "Banana");
    t.entry(data1, "Apple.desktop", "Apple");
    // Not applications, or not looked at.
    t.entry(home, "nodisplay.desktop", "No Display", "NoDisplay=true\n");
    t.entry(home, "hidden.desktop", "Hidden", "Hidden=true\n");
    t.entry(home, "CAPS.DESKTOP", "Capitals");
    t.entry(home, "Shouting.Desktop", "Shouting");
    t.entry(home, ".dotted.desktop", "Dotted");
    t.entry(home / "nested", "nested.desktop", "Nested");
    t.entry(home, "missing-program.desktop", "Missing Program", "TryExec=/nonexistent/program\n");
    t.entry(home, "app.tarvel.Tarvel.desktop", "Tarvel");
    t.write("home/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=https://example.org/\n");
    t.write("home/applications/garbage.desktop", "\x01\x02 not a key file");
    t.write("home/applications/readme.txt", "not an entry");
    t.entry(home, "bad-\xff-name.desktop", "Not UTF-8 File Name");
    t.entry(home, "zero.desktop", "Zero Device", "Icon=/dev/zero\n");
    // Links that lead back into the folder: every walk of it must still end.
    fs::create_directory_symlink(".", home / "s1");
    fs::create_directory_symlink(".", home / "s2");
    fs::create_directory_symlink("..", home / "nested/up");

    auto halfClear = [](int x, int, int w, int) { return x < w / 2 ? clear : red; };
    t.pngIcon("transparent", 48, 48, halfClear);
    t.pngIcon("wide", 96, 24, [](int, int, int, int) { return blue; });
    t.pngIcon("big", 256, 256, halfClear, "256x256");
    t.pngIcon("application-x-executable", 48, 48, [](int, int, int, int) { return grey; });
    auto absolute = XdgTree::image(10, 30, [](int, int, int, int) { return red; });
    gdk_pixbuf_save(absolute.get(), (t.root() / "absolute.png").c_str(), "png", nullptr, nullptr);
    t.svgIcon("vector", R"(<svg xmlns="http://www.w3.org/2000/svg" width="100" height="100" viewBox="0 0 100 100">)"
                        R"(<rect x="0" y="0" width="50" height="100" fill="#00ff00"/></svg>)");
    t.svgIcon("wide-vector", R"(<svg xmlns="http://www.w3.org/2000/svg" width="200" height="50" viewBox="0 0 200 50">)"
                             R"(<rect x="0" y="0" width="200" height="50" fill="#0000ff"/></svg>)");
}

struct DesktopInventory : ::testing::Test {
    IconLookup icons{tree->iconSearchPath()};
    DesktopAppCatalog catalog{icons, tree->applicationFolders()};
    testing::FakeRunning none;
    IcuNameCollation collation;
    ProcessIdentity identity;
    AppInventory::Services services{catalog, none, collation, identity};

    const AppRecord& named(const std::vector<AppRecord>& list, const std::string& name) {
        for (const auto& r : list)
            if (r.name == name) return r;
        ADD_FAILURE() << "no record named " << name;
        static AppRecord nothing;
        return nothing;
    }
};

TEST_F(DesktopInventory, InstalledListsTheApplicationEntriesOfEveryRootInFileBrowserOrder) {
    auto list = AppInventory::installed(services);

    // Localized names (LANGUAGE=de), ".app" removed, equal names in root order, numbers by value;
    // every entry that is no application (hidden, no display, a link, no program, no key file, a
    // dot file, a name that is not UTF-8, another extension, a sub-folder, ourselves) left out.
    EXPECT_THAT(names(list), ElementsAre("App 2", "App 10", "apple", "Apple", "Banana", "Café \"Quoted\" \\ Back",
                                         "Duplicate", "Duplicate", "Meine Werkzeuge", "Zero Device"));
    const fs::path home = tree->dataHome() / "applications", data1 = tree->dataDir(1) / "applications";
    EXPECT_EQ(list[2].path, (home / "lower-apple.desktop").string());
    EXPECT_EQ(list[3].path, (data1 / "Apple.desktop").string());
    EXPECT_EQ(list[6].path, (home / "org.example.Duplicate.desktop").string());
    EXPECT_EQ(list[7].path, (data1 / "org.example.Duplicate.desktop").string());
    EXPECT_EQ(list[6].bundleId, "org.example.Duplicate");
    EXPECT_EQ(list[8].bundleId, "my-tools");
    for (const auto& r : list) {
        EXPECT_FALSE(r.running);
        EXPECT_TRUE(r.launchable);
        // An icon path that is no regular file is not read (it would never end).
        EXPECT_EQ(r.icon.has_value(), r.name != "Zero Device") << r.name;
    }
}

TEST_F(DesktopInventory, IconsArePNGsOf48PixelsThatKeepTransparencyAndFillTheSquare) {
    auto list = AppInventory::installed(services);
    const std::regex base64("data:image/png;base64,([A-Za-z0-9+/]{4})*([A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?");
    for (const auto& r : list) {
        if (r.name == "Zero Device") continue;  // has none
        ASSERT_TRUE(r.icon) << r.name;
        EXPECT_TRUE(std::regex_match(*r.icon, base64)) << r.name;
        auto pixbuf = testing::decodeDataURI(*r.icon);
        ASSERT_TRUE(pixbuf) << r.name;
        EXPECT_EQ(gdk_pixbuf_get_width(pixbuf.get()), 48);
        EXPECT_EQ(gdk_pixbuf_get_height(pixbuf.get()), 48);
        EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pixbuf.get())) << r.name;
    }
    auto pixels = [&](const AppRecord& record) { return testing::decodeDataURI(record.icon.value_or("")); };
    auto expectEverywhere = [&](const AppRecord& record, std::initializer_list<std::pair<int, int>> points, Rgba colour) {
        auto p = pixels(record);
        ASSERT_TRUE(p) << record.name;
        for (auto [x, y] : points) EXPECT_EQ(testing::pixelAt(p.get(), x, y), colour) << record.name << " at " << x << "," << y;
    };
    const std::initializer_list<std::pair<int, int>> corners{{0, 0}, {47, 0}, {0, 47}, {47, 47}};

    auto alphaAt = [&](const char* name, int x, int y) { return testing::pixelAt(pixels(named(list, name)).get(), x, y).a; };

    // Transparent half of a 48-pixel PNG, and of a 256-pixel one scaled down.
    for (const char* name : {"Duplicate", "App 2"}) {
        expectEverywhere(named(list, name), {{45, 24}}, red);
        EXPECT_EQ(alphaAt(name, 2, 24), 0) << name;
    }
    // A 96 x 24 PNG, a 10 x 30 PNG named by absolute path and a 4:1 drawing are stretched, not letter-boxed.
    expectEverywhere(list[7], corners, blue);
    expectEverywhere(named(list, "App 10"), corners, red);
    expectEverywhere(named(list, "Café \"Quoted\" \\ Back"), corners, blue);
    // An SVG drawn at 48 keeps its transparent half.
    expectEverywhere(named(list, "Meine Werkzeuge"), {{10, 10}}, Rgba{0, 255, 0, 255});
    EXPECT_EQ(alphaAt("Meine Werkzeuge", 40, 10), 0);
    // No icon in the theme, or none at all: the generic application icon.
    for (const char* name : {"apple", "Banana"}) expectEverywhere(named(list, name), {{24, 24}}, grey);
}

TEST_F(DesktopInventory, WithoutAnyThemeGtksOwnGenericIconStandsIn) {
    IconLookup empty{std::vector<std::string>{(tree->root() / "no-icons").string()}};
    auto missing = adopt(g_themed_icon_new("does-not-exist"));
    auto vanished = adopt(g_file_icon_new(adopt(g_file_new_for_path("/nonexistent/icon.png")).get()));
    for (GIcon* icon : {G_ICON(missing.get()), G_ICON(vanished.get()), static_cast<GIcon*>(nullptr)}) {
        auto image = empty.iconFor(icon, 48);
        ASSERT_TRUE(image);
        auto pixels = testing::decodeDataURI(AppInventory::iconDataURI(image.get(), 48).value_or(""));
        ASSERT_TRUE(pixels);
        EXPECT_EQ(gdk_pixbuf_get_width(pixels.get()), 48);
    }

    // An icon file that is no image cannot be drawn.
    IconFile file(adopt(g_file_new_for_path(tree->write("not-an-image.png", "plain text").c_str())));
    EXPECT_EQ(AppInventory::iconDataURI(&file, 48), std::nullopt);
}

TEST(DesktopEntryFiles, EachFolderIsWalkedOnceHoweverManyLinksLeadToItAndNoDeeperThanEight) {
    const fs::path home = tree->dataHome() / "applications";
    tarvel::test::TemporaryDirectory elsewhere;
    tarvel::test::writeFile(elsewhere / "linked.desktop", "");
    tarvel::test::TemporaryDirectory other;
    const fs::path folder = other / "applications";
    tarvel::test::writeFile(folder / "top.desktop", "");
    fs::create_directory_symlink(elsewhere.path(), folder / "a");
    fs::create_directory_symlink(elsewhere.path(), folder / "b");
    fs::create_directory_symlink(home, folder / "home");  // a folder that itself loops
    std::string deep = "d";
    for (int level = 1; level < 11; ++level, deep += "/d") tarvel::test::writeFile(folder / deep / "x.desktop", "");

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> ids;
    for (const auto& [id, path] : desktopEntryFiles({folder, home})) ids.push_back(id);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

    auto has = [&](const std::string& id) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
    EXPECT_TRUE(has("top"));
    EXPECT_TRUE(has("a-linked"));
    EXPECT_FALSE(has("b-linked")) << "the linked folder is walked once";
    EXPECT_TRUE(has("home-my-tools"));
    EXPECT_TRUE(has("home-nested-nested"));
    EXPECT_TRUE(has("my-tools")) << "a root of its own gives ids of its own";
    EXPECT_TRUE(has("d-d-d-d-d-d-d-d-x"));
    EXPECT_FALSE(has("d-d-d-d-d-d-d-d-d-x")) << "no deeper than eight folders";
    EXPECT_FALSE(std::any_of(ids.begin(), ids.end(), [](const std::string& id) { return id.find("s1") != std::string::npos; }));
}

// ---- hostile icon files, made here ----

std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

std::string bigEndian(std::uint32_t value) {
    return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

std::string pngChunk(const std::string& type, const std::string& data) {
    return bigEndian(static_cast<std::uint32_t>(data.size())) + type + data + bigEndian(crc32(type + data));
}

// A PNG that declares width x height pixels but carries only the start of their data: small on
// disk, enormous once decoded.
std::string pngDeclaring(std::uint32_t width, std::uint32_t height) {
    const std::string header = bigEndian(width) + bigEndian(height) + std::string("\x08\x06\x00\x00\x00", 5);
    const std::string compressedRows("\x78\x9c\x63\x60\x18\x05\x00\x00", 8);  // a few zero bytes, unfinished
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", compressedRows) + pngChunk("IEND", "");
}

// A real image of another format with the dimensions in its header replaced.
std::string savedWithDimensions(const char* type, int width, int height) {
    auto image = XdgTree::image(4, 4, [](int, int, int, int) { return Rgba{255, 0, 0, 255}; });
    gchar* buffer = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(image.get(), &buffer, &size, type, nullptr, nullptr);
    std::string bytes(buffer, size);
    g_free(buffer);
    if (std::string(type) == "jpeg") {
        const auto sof = bytes.find("\xff\xc0");
        bytes.replace(sof + 5, 4, std::string{char(height >> 8), char(height), char(width >> 8), char(width)});
    } else {  // bmp: little-endian, at 18 and 22
        for (int k = 0; k < 4; ++k) {
            bytes[18 + k] = char(width >> (8 * k));
            bytes[22 + k] = char(height >> (8 * k));
        }
    }
    return bytes;
}

// Exactly `bytes` long (a comment pads it).
std::string svgOfSize(std::size_t bytes, const std::string& attributes = R"(width="16" height="16")") {
    std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" )" + attributes + R"(><rect width="16" height="16" fill="#ff0000"/><!--)";
    const std::string end = "--></svg>";
    svg += std::string(bytes > svg.size() + end.size() ? bytes - svg.size() - end.size() : 0, 'x');
    return svg + end;
}

// Nested references: each level draws the one below ten times over.
std::string svgOfNestedUses(int levels) {
    std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="16" height="16"><defs><rect id="l0" width="1" height="1"/>)";
    for (int level = 1; level <= levels; ++level) {
        svg += "<g id=\"l" + std::to_string(level) + "\">";
        for (int k = 0; k < 10; ++k) svg += "<use xlink:href=\"#l" + std::to_string(level - 1) + "\"/>";
        svg += "</g>";
    }
    return svg + "</defs><use xlink:href=\"#l" + std::to_string(levels) + "\"/></svg>";
}

TEST(HostileIcons, ImagesTooLargeOrTooCostlyAreSkippedBeforeTheyAreDrawn) {
    const struct {
        const char* name;
        std::string bytes;
        bool drawn;
    } cases[] = {
        {"bomb.png", pngDeclaring(20000, 20000), false},
        {"wide.png", pngDeclaring(4097, 1), false},
        {"tall.png", pngDeclaring(1, 100000), false},
        {"bomb.jpg", savedWithDimensions("jpeg", 20000, 20000), false},
        {"bomb.bmp", savedWithDimensions("bmp", 20000, 20000), false},
        {"declared-huge.svg", svgOfSize(200, R"(width="100000" height="100000" viewBox="0 0 16 16")"), true},
        {"padded.svg", svgOfSize(1024 * 1024 + 1), false},
        {"sniffed-svg.icon", svgOfSize(1024 * 1024 + 1), false},  // no extension to go by
        {"at-the-limit.svg", svgOfSize(1024 * 1024), true},
        // A hundred thousand drawings: seconds of librsvg's time, given up on after the limit and
        // left to end on its own.
        {"nested-uses.svg", svgOfNestedUses(5), false},
        // While that drawing goes on, no other starts.
        {"meanwhile.svg", svgOfSize(200), false},
    };
    tarvel::test::TemporaryDirectory folder;
    const std::chrono::milliseconds limit(300);
    for (const auto& c : cases) {
        IconFile icon(adopt(g_file_new_for_path(tarvel::test::writeFile(folder / c.name, c.bytes).c_str())), limit);
        const auto started = std::chrono::steady_clock::now();
        const auto uri = AppInventory::iconDataURI(&icon, 48);
        EXPECT_LT(std::chrono::steady_clock::now() - started, limit + std::chrono::seconds(1)) << c.name;
        EXPECT_EQ(uri.has_value(), c.drawn) << c.name;
        if (uri) {
            EXPECT_EQ(gdk_pixbuf_get_width(testing::decodeDataURI(*uri).get()), 48) << c.name;
        }
    }
    // Once it has ended, icons are drawn again.
    EXPECT_TRUE(IconFile::drawingInBackground());
    for (int waited = 0; IconFile::drawingInBackground() && waited < 600; ++waited) g_usleep(100'000);
    IconFile again(adopt(g_file_new_for_path((folder / "meanwhile.svg").c_str())));
    EXPECT_TRUE(AppInventory::iconDataURI(&again, 48));
}

TEST(IcuCollation, FileBrowserOrderOfNames) {
    for (const char* locale : {"", "de_DE"}) {
        const IcuNameCollation collation(locale);
        EXPECT_LT(collation.compare("App 2", "App 10"), 0) << locale;
        EXPECT_LT(collation.compare("apple", "Banana"), 0) << locale;
        EXPECT_GT(collation.compare("Banana", "apple"), 0) << locale;
        EXPECT_EQ(collation.compare("apple", "APPLE"), 0) << locale;
        EXPECT_LT(collation.compare("file9", "file010"), 0) << locale;
        EXPECT_NE(collation.compare("resume", "résumé"), 0) << locale;  // accents still count
    }
}

TEST(RunningWithoutDisplay, NoX11DisplayMeansNoRunningApplications) {
    IconLookup icons{std::vector<std::string>{}};
    X11RunningApplications running(icons, "app.tarvel.Tarvel", ":65000");
    EXPECT_THAT(running.runningApplications(), IsEmpty());
}

} // namespace
} // namespace tarvel

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tarvel::testing::XdgTree tree;
    tree.exportEnvironment();
    ::setenv("LANGUAGE", "de", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    tarvel::buildTree(tree);
    tarvel::tree = &tree;
    return RUN_ALL_TESTS();
}
