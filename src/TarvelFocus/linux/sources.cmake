# Linux layer of tarvel-focus: X11 (EWMH) for running applications, GIO for desktop entries and
# launching, ICU for normalization. Nothing heavier: the command must start in a few milliseconds.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TARVEL_FOCUS_DEPS REQUIRED IMPORTED_TARGET x11 gio-2.0 gio-unix-2.0 icu-uc)

target_sources(tarvel_focus_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DesktopEntries.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GioOpener.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IcuNormalizer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Platform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11RunningApplications.cpp
)
target_include_directories(tarvel_focus_platform PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarvel_focus_platform PUBLIC PkgConfig::TARVEL_FOCUS_DEPS)
