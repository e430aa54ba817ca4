# The Linux platform services against the real system: GIO folder monitors on temporary folders,
# and libsoup fetching from a local HTTPS server with a certificate made for the run.
add_executable(tarvel_platform_linux_tests
    ${CMAKE_CURRENT_LIST_DIR}/GioFolderMonitorTests.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SoupHttpTransportTests.cpp)
target_link_libraries(tarvel_platform_linux_tests PRIVATE tarvel_platform GTest::gtest GTest::gtest_main)
target_include_directories(tarvel_platform_linux_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(tarvel_platform_linux_tests PRIVATE TARVEL_HTTPS_SERVER="${CMAKE_CURRENT_LIST_DIR}/https_server.py")
tarvel_warnings(tarvel_platform_linux_tests)
gtest_discover_tests(tarvel_platform_linux_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS platform
                     ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/linux/lsan.supp:print_suppressions=0")
