# GIO folder monitors (karabiner.json watched) and HTTP over libsoup 3 (tarvelFetch).
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/GioFolderMonitor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SoupHttpTransport.cpp
)
