# Linux layer of tarvel-focus: X11 (EWMH, through XCB) for running applications, GLib's key files
# for desktop entries, GIO to launch and ICU to normalize. The command must start in a few
# milliseconds, so only XCB and GLib are linked; GIO and ICU are loaded when a run needs them (their
# headers give the functions' types).
find_package(PkgConfig REQUIRED)
pkg_check_modules(TARVEL_FOCUS_DEPS REQUIRED IMPORTED_TARGET xcb glib-2.0)
pkg_check_modules(TARVEL_FOCUS_LOADED REQUIRED IMPORTED_TARGET gio-2.0 gio-unix-2.0 icu-uc)

target_sources(tarvel_focus_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DesktopEntries.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GioOpener.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IcuNormalizer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Platform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11RunningApplications.cpp
)
target_include_directories(tarvel_focus_platform PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarvel_focus_platform PUBLIC PkgConfig::TARVEL_FOCUS_DEPS ${CMAKE_DL_LIBS})
get_target_property(tarvel_focus_loaded_includes PkgConfig::TARVEL_FOCUS_LOADED INTERFACE_INCLUDE_DIRECTORIES)
target_include_directories(tarvel_focus_platform PRIVATE ${tarvel_focus_loaded_includes})

# The C++ runtime linked in: loading libstdc++ costs more than the whole search.
if(NOT TARVEL_SANITIZE)
    target_link_options(tarvel-focus PRIVATE -static-libstdc++ -static-libgcc)
endif()
