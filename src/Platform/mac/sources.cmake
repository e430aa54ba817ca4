# Folder monitors from dispatch sources (karabiner.json watched) and HTTP over NSURLSession
# (tarvelFetch).
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DispatchFolderMonitor.mm
    ${CMAKE_CURRENT_LIST_DIR}/URLSessionHttpTransport.mm
)
