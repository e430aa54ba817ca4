# The desktop host's benchmark program, beside `tarvel` so that it finds the same resources.
add_executable(tarvel-host-bench ${CMAKE_CURRENT_LIST_DIR}/HostBench.cpp)
target_link_libraries(tarvel-host-bench PRIVATE tarvel_platform)
set_target_properties(tarvel-host-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_dependencies(tarvel-host-bench tarvel_web_resources)
tarvel_warnings(tarvel-host-bench)
