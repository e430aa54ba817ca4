# End-to-end suite of the web view: the real KeymapWebView on WKWebView, its bridge and resource
# scheme, driving a test page of its own. Needs the window server (label "display").
add_library(tarvel_mac_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/MacTestSupport.mm)
target_include_directories(tarvel_mac_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarvel_mac_test_support PUBLIC tarvel_platform GTest::gtest)
tarvel_warnings(tarvel_mac_test_support)

add_executable(tarvel_web_mac_tests ${CMAKE_CURRENT_LIST_DIR}/KeymapWebViewTests.mm)
target_link_libraries(tarvel_web_mac_tests PRIVATE tarvel_mac_test_support GTest::gtest_main)
tarvel_warnings(tarvel_web_mac_tests)
add_test(NAME web_display COMMAND tarvel_web_mac_tests)
set_tests_properties(web_display PROPERTIES LABELS display TIMEOUT 600)
