target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DesktopAppCatalog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopEntryFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DesktopIcons.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IcuNameCollation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PlatformInventory.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ProcessIdentity.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowApplications.cpp
    ${CMAKE_CURRENT_LIST_DIR}/X11RunningApplications.cpp
)
