# macOS platform layer: AppKit, WebKit (WKWebView) and UniformTypeIdentifiers, in Objective-C++
# with automatic reference counting.

# Implementations of the core's interfaces; each folder lists its own files.
add_library(tarvel_platform STATIC)
target_include_directories(tarvel_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarvel_platform PUBLIC tarvel_core "-framework AppKit" "-framework WebKit"
                      "-framework UniformTypeIdentifiers")
target_compile_definitions(tarvel_platform PUBLIC TARVEL_APP_ID="${TARVEL_APP_ID}")
target_compile_options(tarvel_platform PUBLIC $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
tarvel_warnings(tarvel_platform)

foreach(folder Platform Karabiner Web Apps Shell)
    include(${CMAKE_CURRENT_SOURCE_DIR}/${folder}/mac/sources.cmake OPTIONAL)
endforeach()
