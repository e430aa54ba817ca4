#pragma once
// A temporary XDG data tree with desktop entries and an icon theme, for tests and benchmarks.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Apps/linux/GLibPointers.h"
#include "TestFiles.h"

namespace tarvel::testing {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba&) const = default;
};

class XdgTree {
public:
    XdgTree();

    const std::filesystem::path& root() const { return root_.path(); }
    std::filesystem::path dataHome() const { return root_ / "home"; }
    std::filesystem::path dataDir(int n) const { return root_ / ("data" + std::to_string(n)); }

    // $XDG_DATA_HOME and $XDG_DATA_DIRS (data1, data2) point here; call before GLib reads them.
    void exportEnvironment() const;
    // The application folders in XDG order: home, data1, data2 (data2 is never created).
    std::vector<std::filesystem::path> applicationFolders() const;
    // The folders that hold icon themes.
    std::vector<std::string> iconSearchPath() const;

    std::filesystem::path write(const std::filesystem::path& relative, const std::string& content) const;
    // A desktop entry of type Application that runs /bin/true, with the given extra lines.
    std::filesystem::path entry(const std::filesystem::path& folder, const std::string& fileName, const std::string& name,
                                const std::string& extra = {}) const;

    using Paint = std::function<Rgba(int x, int y, int width, int height)>;
    static GObjectPtr<GdkPixbuf> image(int width, int height, const Paint& paint);
    // A PNG in the theme's 48x48 folder (whatever its real size).
    std::filesystem::path pngIcon(const std::string& name, int width, int height, const Paint& paint,
                                  const std::string& sizeFolder = "48x48") const;
    std::filesystem::path svgIcon(const std::string& name, const std::string& svg) const;

private:
    tarvel::test::TemporaryDirectory root_;
};

// The pixels of a "data:image/png;base64," URI, or null when it is not one.
GObjectPtr<GdkPixbuf> decodeDataURI(const std::string& uri);
Rgba pixelAt(GdkPixbuf* pixbuf, int x, int y);

} // namespace tarvel::testing
