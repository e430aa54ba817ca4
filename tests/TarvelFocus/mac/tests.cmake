# tarvel-focus on macOS: its Cocoa layer and the built command.
add_executable(tarvel_focus_mac_tests ${CMAKE_CURRENT_LIST_DIR}/MacLayerTests.mm)
target_link_libraries(tarvel_focus_mac_tests PRIVATE tarvel_focus_platform GTest::gtest GTest::gtest_main)
target_compile_options(tarvel_focus_mac_tests PRIVATE -fobjc-arc)
target_compile_definitions(tarvel_focus_mac_tests PRIVATE TARVEL_FOCUS_PATH="$<TARGET_FILE:tarvel-focus>")
add_dependencies(tarvel_focus_mac_tests tarvel-focus)
tarvel_warnings(tarvel_focus_mac_tests)
gtest_discover_tests(tarvel_focus_mac_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS focus)
