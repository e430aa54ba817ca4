// The display tests run in a process of their own with a temporary HOME and XDG folders, made
// fresh and set before GTK, GLib or WebKit read them, so that nothing a machine or an earlier run
// left behind (caches, settings, runtime files) takes part.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Web/linux/DisplayTestSupport.h"

namespace tarvel::test {

namespace {
fs::path environmentRoot;
}

const fs::path& DisplayEnvironment::root() { return environmentRoot; }

} // namespace tarvel::test

// LeakSanitizer names the library of a leak only while that library is loaded. GL drivers, which
// GTK and WebKit load and may unload again, would otherwise turn their own leaks into reports that
// no suppression by library name can match; in the display suites nothing is ever unloaded.
extern "C" int dlclose(void*) { return 0; }

int main(int argc, char** argv) {
    using namespace tarvel::test;
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

    std::string pattern = (fs::temp_directory_path() / "tarvel-display-XXXXXX").string();
    environmentRoot = ::mkdtemp(pattern.data());
    const struct {
        const char* variable;
        fs::path folder;
    } folders[] = {
        {"HOME", DisplayEnvironment::home()},
        {"XDG_DATA_HOME", DisplayEnvironment::dataHome()},
        {"XDG_CONFIG_HOME", DisplayEnvironment::configHome()},
        {"XDG_CACHE_HOME", DisplayEnvironment::cacheHome()},
        {"XDG_STATE_HOME", environmentRoot / "state"},
        // WebKit's web process needs a runtime folder of the user's alone.
        {"XDG_RUNTIME_DIR", environmentRoot / "runtime"},
    };
    for (const auto& [variable, folder] : folders) {
        // A folder that is missing makes libraries fall back to others, or print and go on without.
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms::owner_all);
        ::setenv(variable, folder.c_str(), 1);
    }
    fs::create_directories(DisplayEnvironment::dataDir());
    // The system's folders stay behind the test's own, for GTK's settings schemas and icons.
    ::setenv("XDG_DATA_DIRS", (DisplayEnvironment::dataDir().string() + ":/usr/local/share:/usr/share").c_str(), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");

    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run through tests/with-display\n");
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    std::error_code error;
    fs::remove_all(environmentRoot, error);
    return status;
}
