# The application shell on AppKit, with a stand-in editor.
add_executable(tarvel_shell_mac_tests ${CMAKE_CURRENT_LIST_DIR}/ShellTests.mm)
target_link_libraries(tarvel_shell_mac_tests PRIVATE tarvel_mac_test_support GTest::gtest_main)
tarvel_warnings(tarvel_shell_mac_tests)
add_test(NAME shell_display COMMAND tarvel_shell_mac_tests)
set_tests_properties(shell_display PROPERTIES LABELS display TIMEOUT 300)

# Tarvel.app as built: its layout, Info.plist, string tables, architectures and signature.
string(REPLACE ";" "," tarvel_architectures "${CMAKE_OSX_ARCHITECTURES}")
add_test(NAME bundle_layout COMMAND ${CMAKE_COMMAND} -DBUNDLE=$<TARGET_BUNDLE_DIR:tarvel> -DAPP_ID=${TARVEL_APP_ID}
         -DARCHITECTURES=${tarvel_architectures} -P ${CMAKE_CURRENT_LIST_DIR}/BundleLayout.cmake)
