# The Cocoa inventory services against real bundles in temporary folders.
add_executable(tarvel_apps_mac_tests ${CMAKE_CURRENT_LIST_DIR}/MacInventoryTests.mm)
target_link_libraries(tarvel_apps_mac_tests PRIVATE tarvel_platform GTest::gtest GTest::gmock GTest::gtest_main)
target_include_directories(tarvel_apps_mac_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../..)
tarvel_warnings(tarvel_apps_mac_tests)
gtest_discover_tests(tarvel_apps_mac_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS platform)
