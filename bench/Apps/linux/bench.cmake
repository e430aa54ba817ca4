# `installed` over generated XDG trees of PNG- and SVG-icon applications.
add_executable(tarvel_apps_bench ${CMAKE_CURRENT_LIST_DIR}/InstalledBenchmark.cpp
               ${PROJECT_SOURCE_DIR}/tests/Apps/linux/XdgTree.cpp)
target_include_directories(tarvel_apps_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/Apps/linux ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(tarvel_apps_bench PRIVATE tarvel_platform benchmark::benchmark)
tarvel_warnings(tarvel_apps_bench)
