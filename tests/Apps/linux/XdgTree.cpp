#include "XdgTree.h"

#include <cstring>
#include <stdexcept>

namespace tarvel::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* themeIndex = R"([Icon Theme]
Name=Hicolor
Comment=Test theme
Directories=48x48/apps,256x256/apps,scalable/apps

[48x48/apps]
Size=48
Context=Applications
Type=Threshold

[256x256/apps]
Size=256
Context=Applications
Type=Threshold

[scalable/apps]
MinSize=1
Size=128
MaxSize=512
Context=Applications
Type=Scalable
)";

} // namespace

XdgTree::XdgTree() {
    fs::create_directories(dataHome() / "applications");
    fs::create_directories(dataDir(1) / "applications");
    write("home/icons/hicolor/index.theme", themeIndex);
}

void XdgTree::exportEnvironment() const {
    ::setenv("XDG_DATA_HOME", dataHome().c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (dataDir(1).string() + ":" + dataDir(2).string()).c_str(), 1);
}

std::vector<fs::path> XdgTree::applicationFolders() const {
    return {dataHome() / "applications", dataDir(1) / "applications", dataDir(2) / "applications"};
}

std::vector<std::string> XdgTree::iconSearchPath() const {
    return {(dataHome() / "icons").string(), (dataDir(1) / "icons").string()};
}

fs::path XdgTree::write(const fs::path& relative, const std::string& content) const {
    return tarvel::test::writeFile(root_ / relative, content);
}

fs::path XdgTree::entry(const fs::path& folder, const std::string& fileName, const std::string& name,
                        const std::string& extra) const {
    return tarvel::test::writeFile(folder / fileName, tarvel::test::desktopEntry(name, extra, "/bin/true"));
}

GObjectPtr<GdkPixbuf> XdgTree::image(int width, int height, const Paint& paint) {
    auto pixbuf = adopt(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Rgba c = paint(x, y, width, height);
            guchar* p = pixels + y * stride + x * 4;
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
        }
    return pixbuf;
}

fs::path XdgTree::pngIcon(const std::string& name, int width, int height, const Paint& paint,
                          const std::string& sizeFolder) const {
    fs::path file = dataHome() / "icons/hicolor" / sizeFolder / "apps" / (name + ".png");
    fs::create_directories(file.parent_path());
    auto pixbuf = image(width, height, paint);
    if (!gdk_pixbuf_save(pixbuf.get(), file.c_str(), "png", nullptr, nullptr)) throw std::runtime_error("cannot save PNG");
    return file;
}

fs::path XdgTree::svgIcon(const std::string& name, const std::string& svg) const {
    return write(fs::path("home/icons/hicolor/scalable/apps") / (name + ".svg"), svg);
}

GObjectPtr<GdkPixbuf> decodeDataURI(const std::string& uri) {
    const std::string prefix = "data:image/png;base64,";
    if (uri.rfind(prefix, 0) != 0) return nullptr;
    gsize length = 0;
    GCharPtr bytes(reinterpret_cast<char*>(g_base64_decode(uri.c_str() + prefix.size(), &length)));
    static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (length < sizeof signature || std::memcmp(bytes.get(), signature, sizeof signature) != 0) return nullptr;
    auto loader = adopt(gdk_pixbuf_loader_new_with_type("png", nullptr));
    bool ok = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(bytes.get()), length, nullptr);
    ok = gdk_pixbuf_loader_close(loader.get(), nullptr) && ok;
    if (!ok) return nullptr;
    return retain(gdk_pixbuf_loader_get_pixbuf(loader.get()));
}

Rgba pixelAt(GdkPixbuf* pixbuf, int x, int y) {
    const guchar* p = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) +
                      x * gdk_pixbuf_get_n_channels(pixbuf);
    return {p[0], p[1], p[2], gdk_pixbuf_get_has_alpha(pixbuf) ? p[3] : std::uint8_t(255)};
}

} // namespace tarvel::testing
