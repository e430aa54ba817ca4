# End-to-end suite of the application shell on a display: window, notice, re-check, download
# button. Shares the display tests' main and helpers with tests/Web/linux.
add_executable(tarvel_shell_display_tests ${CMAKE_CURRENT_LIST_DIR}/ShellTests.cpp)
target_link_libraries(tarvel_shell_display_tests PRIVATE tarvel_display_test_support)
tarvel_warnings(tarvel_shell_display_tests)

add_test(NAME shell_display COMMAND ${TARVEL_WITH_DISPLAY} $<TARGET_FILE:tarvel_shell_display_tests>)
set_tests_properties(shell_display PROPERTIES LABELS display TIMEOUT 300
    ENVIRONMENT "${TARVEL_DISPLAY_TEST_ENVIRONMENT}")

# `cmake --install` lays out the executable, the page, the desktop entry and the icon where the
# executable finds them.
add_test(NAME install_layout COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DAPP_ID=${TARVEL_APP_ID}
         -DPREFIX=${CMAKE_CURRENT_BINARY_DIR}/install-layout -P ${CMAKE_CURRENT_LIST_DIR}/InstallLayout.cmake)
