# Linux platform layer: GTK 4, WebKitGTK 6.0, GIO, ICU, X11 (through XCB), libsoup 3.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GTK4 REQUIRED IMPORTED_TARGET gtk4)
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkitgtk-6.0)
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc icu-i18n)
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
pkg_check_modules(SOUP REQUIRED IMPORTED_TARGET libsoup-3.0)

# Implementations of the core's interfaces; each folder lists its own files.
add_library(tarvel_platform STATIC)
target_include_directories(tarvel_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tarvel_platform PUBLIC tarvel_core PkgConfig::WEBKIT PkgConfig::GTK4 PkgConfig::GIO
                      PkgConfig::ICU PkgConfig::XCB PkgConfig::SOUP)
target_compile_definitions(tarvel_platform PUBLIC TARVEL_APP_ID="${TARVEL_APP_ID}")
tarvel_warnings(tarvel_platform)

foreach(folder Platform Karabiner Web Apps Shell)
    include(${CMAKE_CURRENT_SOURCE_DIR}/${folder}/linux/sources.cmake OPTIONAL)
endforeach()
