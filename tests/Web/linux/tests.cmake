# End-to-end suite of the web view on a display: the real KeymapWebView, its bridge, resource
# scheme, dialogs, file chooser and downloads, driving a test page of its own.
add_library(tarvel_display_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/DisplayTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DisplayTestMain.cpp)
target_include_directories(tarvel_display_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarvel_display_test_support PUBLIC tarvel_platform GTest::gtest GTest::gmock)
# The suites' own dlclose (see DisplayTestMain.cpp) must also serve modules loaded after start.
target_link_options(tarvel_display_test_support PUBLIC -Wl,--export-dynamic-symbol=dlclose)
tarvel_warnings(tarvel_display_test_support)

add_library(tarvel_unload_probe MODULE ${CMAKE_CURRENT_LIST_DIR}/UnloadProbe.c)

add_executable(tarvel_web_display_tests
    ${CMAKE_CURRENT_LIST_DIR}/DisplaySessionTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KeymapWebViewTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PanelsTests.cpp)
target_link_libraries(tarvel_web_display_tests PRIVATE tarvel_display_test_support ${CMAKE_DL_LIBS})
target_compile_definitions(tarvel_web_display_tests PRIVATE TARVEL_UNLOAD_PROBE="$<TARGET_FILE:tarvel_unload_probe>")
add_dependencies(tarvel_web_display_tests tarvel_unload_probe)
tarvel_warnings(tarvel_web_display_tests)

# Sanitizers stay on. What they would report of GLib's, GTK's, fontconfig's and WebKit's own
# allocations, and of JavaScriptCore's use of the executable's inline library code, is suppressed
# by name in tests/linux (used by every display suite).
set(TARVEL_DISPLAY_TEST_ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/linux/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/linux/ubsan.supp:print_stacktrace=1")

add_test(NAME web_display COMMAND ${TARVEL_WITH_DISPLAY} $<TARGET_FILE:tarvel_web_display_tests>
         --gtest_filter=-PanelsTest.*FileInput*)
set_tests_properties(web_display PROPERTIES LABELS display TIMEOUT 600
    ENVIRONMENT "${TARVEL_DISPLAY_TEST_ENVIRONMENT}")

# The file chooser cases apart, with GTK's file chooser leftovers suppressed for them alone.
add_test(NAME web_file_chooser_display COMMAND ${TARVEL_WITH_DISPLAY} $<TARGET_FILE:tarvel_web_display_tests>
         --gtest_filter=PanelsTest.*FileInput*)
set_tests_properties(web_file_chooser_display PROPERTIES LABELS display TIMEOUT 300
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/linux/lsan-file-chooser.supp:print_suppressions=0;UBSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/linux/ubsan.supp:print_stacktrace=1")

# The product end to end: this platform's real inventory delivered to a page, and the built editor
# page installing a recipe. tarvel-focus is copied beside the test program, as it lies beside tarvel.
add_executable(tarvel_integration_display_tests ${CMAKE_CURRENT_LIST_DIR}/IntegrationTests.cpp)
target_link_libraries(tarvel_integration_display_tests PRIVATE tarvel_display_test_support)
target_compile_definitions(tarvel_integration_display_tests PRIVATE
    TARVEL_BUILT_RESOURCES="${CMAKE_BINARY_DIR}/share/tarvel")
tarvel_warnings(tarvel_integration_display_tests)
# A folder of its own: the helper copied beside it must not appear beside other suites.
set_target_properties(tarvel_integration_display_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/integration)
add_dependencies(tarvel_integration_display_tests tarvel_web_resources)
add_custom_command(TARGET tarvel_integration_display_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarvel-focus> $<TARGET_FILE_DIR:tarvel_integration_display_tests>/tarvel-focus)
add_test(NAME integration_display COMMAND ${TARVEL_WITH_DISPLAY} $<TARGET_FILE:tarvel_integration_display_tests>)
set_tests_properties(integration_display PROPERTIES LABELS display TIMEOUT 300
    ENVIRONMENT "${TARVEL_DISPLAY_TEST_ENVIRONMENT}")
