# The Linux inventory services against real files in a temporary XDG tree. The ordinary suite needs
# no display; the running-applications suite gets one with a window manager.
add_library(tarvel_apps_test_tree STATIC ${CMAKE_CURRENT_LIST_DIR}/XdgTree.cpp)
target_link_libraries(tarvel_apps_test_tree PUBLIC tarvel_platform)
target_include_directories(tarvel_apps_test_tree PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/.. ${PROJECT_SOURCE_DIR}/tests)
tarvel_warnings(tarvel_apps_test_tree)

set(TARVEL_APPS_LSAN_OPTIONS "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0")

add_executable(tarvel_apps_linux_tests ${CMAKE_CURRENT_LIST_DIR}/DesktopInventoryTests.cpp
               ${CMAKE_CURRENT_LIST_DIR}/WindowApplicationsTests.cpp)
target_link_libraries(tarvel_apps_linux_tests PRIVATE tarvel_apps_test_tree GTest::gtest GTest::gmock)
tarvel_warnings(tarvel_apps_linux_tests)
gtest_discover_tests(tarvel_apps_linux_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES LABELS platform ENVIRONMENT "${TARVEL_APPS_LSAN_OPTIONS}")

# The test's own windows are made with Xlib.
find_package(PkgConfig REQUIRED)
pkg_check_modules(APPS_TEST_X11 REQUIRED IMPORTED_TARGET x11)
add_executable(tarvel_apps_display_tests ${CMAKE_CURRENT_LIST_DIR}/RunningApplicationsTests.cpp)
target_link_libraries(tarvel_apps_display_tests PRIVATE tarvel_apps_test_tree PkgConfig::APPS_TEST_X11 GTest::gtest GTest::gmock)
tarvel_warnings(tarvel_apps_display_tests)
add_test(NAME AppsLinux.RunningApplicationsOnDisplay
         COMMAND ${TARVEL_WITH_DISPLAY} --wm $<TARGET_FILE:tarvel_apps_display_tests>)
set_tests_properties(AppsLinux.RunningApplicationsOnDisplay PROPERTIES LABELS display TIMEOUT 120
                     ENVIRONMENT "${TARVEL_APPS_LSAN_OPTIONS}")
