# macOS layer of tarvel-focus: NSWorkspace and NSRunningApplication (AppKit), NSString's
# normalization (Foundation). Unlike the application, the helper is built for both Mac
# architectures.
target_sources(tarvel_focus_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/FoundationNormalizer.mm
    ${CMAKE_CURRENT_LIST_DIR}/Platform.mm
    ${CMAKE_CURRENT_LIST_DIR}/WorkspaceOpener.mm
    ${CMAKE_CURRENT_LIST_DIR}/WorkspaceRunningApplications.mm
)
target_include_directories(tarvel_focus_platform PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(tarvel_focus_platform PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
target_link_libraries(tarvel_focus_platform PUBLIC "-framework AppKit" "-framework Foundation")

set(TARVEL_FOCUS_ARCHITECTURES "arm64;x86_64" CACHE STRING "Architectures of tarvel-focus")
set_target_properties(tarvel_focus_core tarvel_focus_platform tarvel-focus PROPERTIES
    OSX_ARCHITECTURES "${TARVEL_FOCUS_ARCHITECTURES}")
