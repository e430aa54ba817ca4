# WKWebView glue of the web view, its bridge, resource scheme, panels and downloads.
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DispatchMainQueue.mm
    ${CMAKE_CURRENT_LIST_DIR}/KeymapWebViewMac.mm
    ${CMAKE_CURRENT_LIST_DIR}/Panels.mm
    ${CMAKE_CURRENT_LIST_DIR}/URLSchemeTask.mm
    ${CMAKE_CURRENT_LIST_DIR}/WKWebViewPage.mm
)
