// The display suites must not depend on the machine they run on: folders of their own, made fresh,
// GTK drawing without GL, and every module kept loaded so that a leak is always attributable.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Web/linux/DisplayTestSupport.h"

namespace tarvel::test {
namespace {

std::string mappedModules() {
    std::ifstream maps("/proc/self/maps");
    std::stringstream text;
    text << maps.rdbuf();
    return text.str();
}

TEST(DisplaySession, EveryFolderTheLibrariesUseIsFreshAndTheSuitesOwn) {
    const fs::path root = fs::canonical(DisplayEnvironment::root());
    for (const char* variable : {"HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        const char* value = std::getenv(variable);
        ASSERT_NE(value, nullptr) << variable;
        std::error_code error;
        const fs::path folder = fs::canonical(value, error);
        ASSERT_FALSE(error) << variable << "=" << value << " does not exist";
        EXPECT_TRUE(fs::is_directory(folder)) << variable;
        EXPECT_EQ(folder.string().rfind(root.string() + "/", 0), 0u) << variable << "=" << folder << " is not inside " << root;
    }
}

TEST(DisplaySession, GtkDrawsWithoutTheMachinesGL) {
    GError* error = nullptr;
    EXPECT_FALSE(gdk_display_prepare_gl(gdk_display_get_default(), &error)) << "GTK would render through the GL driver";
    g_clear_error(&error);
}

TEST(DisplaySession, AClosedModuleStaysMappedSoItsLeaksCanBeNamed) {
    void* module = dlopen(TARVEL_UNLOAD_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    dlclose(module);
    EXPECT_NE(mappedModules().find(fs::path(TARVEL_UNLOAD_PROBE).filename().string()), std::string::npos);
}

} // namespace
} // namespace tarvel::test
