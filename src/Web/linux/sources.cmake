# WebKitGTK glue of the web view, its bridge, resource scheme, panels and downloads.
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/GLibMainQueue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KeymapWebViewGtk.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Panels.cpp
    ${CMAKE_CURRENT_LIST_DIR}/URISchemeTask.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebKitPage.cpp
)
