// The display tests run in a process of their own with a temporary HOME and XDG folders, set
// before GTK, GLib or WebKit read them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Web/linux/DisplayTestSupport.h"

namespace tarvel::test {

namespace {
fs::path environmentRoot;
}

const fs::path& DisplayEnvironment::root() { return environmentRoot; }

} // namespace tarvel::test

int main(int argc, char** argv) {
    using namespace tarvel::test;
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

    std::string pattern = (fs::temp_directory_path() / "tarvel-display-XXXXXX").string();
    environmentRoot = ::mkdtemp(pattern.data());
    for (auto folder : {DisplayEnvironment::home(), DisplayEnvironment::dataHome(), DisplayEnvironment::dataDir(),
                        DisplayEnvironment::configHome()}) {
        fs::create_directories(folder);
    }
    ::setenv("HOME", DisplayEnvironment::home().c_str(), 1);
    ::setenv("XDG_DATA_HOME", DisplayEnvironment::dataHome().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", DisplayEnvironment::configHome().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (environmentRoot / "cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (environmentRoot / "state").c_str(), 1);
    // The system's folders stay behind the test's own, for GTK's settings schemas and icons.
    ::setenv("XDG_DATA_DIRS", (DisplayEnvironment::dataDir().string() + ":/usr/local/share:/usr/share").c_str(), 1);
    ::unsetenv("XDG_CURRENT_DESKTOP");
    // WebKit's web process needs a runtime folder; a bare Xvfb session has none.
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        fs::create_directories(environmentRoot / "runtime");
        fs::permissions(environmentRoot / "runtime", fs::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", (environmentRoot / "runtime").c_str(), 1);
    }

    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run through tests/with-display\n");
        return 1;
    }
    const int status = RUN_ALL_TESTS();
    std::error_code error;
    fs::remove_all(environmentRoot, error);
    return status;
}
