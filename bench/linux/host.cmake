# The desktop host's benchmark program, beside `tarvel` so that it finds the same resources.
add_executable(tarvel-host-bench ${CMAKE_CURRENT_LIST_DIR}/HostBench.cpp)
target_link_libraries(tarvel-host-bench PRIVATE tarvel_platform)
set_target_properties(tarvel-host-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_dependencies(tarvel-host-bench tarvel_web_resources)
tarvel_warnings(tarvel-host-bench)

# Whether the window keeps drawing while the bridge works (bench/responsiveness).
add_executable(tarvel-responsiveness-bench ${CMAKE_CURRENT_LIST_DIR}/ResponsivenessBench.cpp
               ${PROJECT_SOURCE_DIR}/tests/Apps/linux/XdgTree.cpp)
target_include_directories(tarvel-responsiveness-bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/Apps/linux ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(tarvel-responsiveness-bench PRIVATE tarvel_platform)
set_target_properties(tarvel-responsiveness-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
tarvel_warnings(tarvel-responsiveness-bench)
