# tarvel-focus on Linux: its platform layer, then the real binary under a window manager.
add_executable(tarvel_focus_linux_tests ${CMAKE_CURRENT_LIST_DIR}/LinuxLayerTests.cpp)
target_link_libraries(tarvel_focus_linux_tests PRIVATE tarvel_focus_platform GTest::gtest GTest::gtest_main)
target_include_directories(tarvel_focus_linux_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
tarvel_warnings(tarvel_focus_linux_tests)
gtest_discover_tests(tarvel_focus_linux_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS focus)

find_package(PkgConfig REQUIRED)
pkg_check_modules(FOCUS_TEST_X11 REQUIRED IMPORTED_TARGET x11)

# A stand-in application with windows of known names and classes (also used by bench/focus).
add_executable(focus-test-window ${CMAKE_CURRENT_LIST_DIR}/TestWindow.cpp)
target_link_libraries(focus-test-window PRIVATE PkgConfig::FOCUS_TEST_X11)
tarvel_warnings(focus-test-window)

# The test runs the command through the core's child-process runner; the command itself links none
# of the core.
add_executable(tarvel_focus_end_to_end ${CMAKE_CURRENT_LIST_DIR}/EndToEndTests.cpp)
target_link_libraries(tarvel_focus_end_to_end PRIVATE tarvel_core PkgConfig::FOCUS_TEST_X11 GTest::gtest GTest::gtest_main)
target_include_directories(tarvel_focus_end_to_end PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(tarvel_focus_end_to_end PRIVATE
    TARVEL_FOCUS_PATH="$<TARGET_FILE:tarvel-focus>"
    TEST_WINDOW_PATH="$<TARGET_FILE:focus-test-window>")
tarvel_warnings(tarvel_focus_end_to_end)
add_dependencies(tarvel_focus_end_to_end tarvel-focus focus-test-window)
# One display for the whole suite: the windows and the window manager are shared by its cases.
add_test(NAME tarvel_focus_end_to_end
         COMMAND ${TARVEL_WITH_DISPLAY} --wm $<TARGET_FILE:tarvel_focus_end_to_end>)
set_tests_properties(tarvel_focus_end_to_end PROPERTIES LABELS "display;focus" TIMEOUT 300)
