# WKWebView glue of the web view, its bridge, resource scheme, panels and downloads.
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/DispatchMainQueue.mm
    ${CMAKE_CURRENT_LIST_DIR}/KeymapWebViewMac.mm
    ${CMAKE_CURRENT_LIST_DIR}/Panels.mm
    ${CMAKE_CURRENT_LIST_DIR}/URLSchemeTask.mm
    ${CMAKE_CURRENT_LIST_DIR}/WKWebViewPage.mm
)

# The confirmation dialog's button titles, in the languages the bundle declares; the application
# bundle copies them into Resources/<language>.lproj.
foreach(language en ja)
    set(table ${CMAKE_CURRENT_LIST_DIR}/${language}.lproj/Panels.strings)
    set_source_files_properties(${table} PROPERTIES MACOSX_PACKAGE_LOCATION Resources/${language}.lproj)
    list(APPEND TARVEL_BUNDLE_RESOURCES ${table})
endforeach()
