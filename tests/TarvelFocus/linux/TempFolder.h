#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace tarvel_focus::testing {

// A scratch folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/tarvel-focus-XXXXXX";
        if (mkdtemp(pattern)) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

    // Writes a file (making its folders), optionally executable.
    std::filesystem::path write(const std::string& relative, const std::string& text, bool executable = false) const {
        const auto file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
        if (executable) chmod(file.c_str(), 0755);
        return file;
    }

private:
    std::filesystem::path path_;
};

// A minimal application entry.
inline std::string desktopEntry(const std::string& name, const std::string& extra = "",
                                const std::string& exec = "true") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
}

} // namespace tarvel_focus::testing
