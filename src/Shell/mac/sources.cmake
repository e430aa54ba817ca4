# The application shell (TarvelApp, ContentView, KarabinerMissingView) and the bundle Tarvel.app:
#   Contents/MacOS/Tarvel and, beside it, tarvel-focus
#   Contents/Resources/WebResources   the editor page (the repository's WebResources, built from web/)
#   Contents/Resources/*.lproj         the notice's string tables, from po/, and the dialogs' (Web/mac)
#   Contents/Resources/Tarvel.icns
# ad-hoc signed and not sandboxed: Tarvel reads and writes ~/.config/karabiner and runs karabiner_cli.
target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ContentView.mm
    ${CMAKE_CURRENT_LIST_DIR}/KarabinerMissingView.mm
    ${CMAKE_CURRENT_LIST_DIR}/TarvelApp.mm
)

set(TARVEL_BUNDLE_NAME Tarvel)
set(TARVEL_ICON ${CMAKE_CURRENT_LIST_DIR}/Tarvel.icns)
set_source_files_properties(${TARVEL_ICON} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in ${CMAKE_CURRENT_BINARY_DIR}/Info.plist.in @ONLY)

add_executable(tarvel MACOSX_BUNDLE ${CMAKE_CURRENT_LIST_DIR}/main.mm ${TARVEL_ICON} ${TARVEL_BUNDLE_RESOURCES})
target_link_libraries(tarvel PRIVATE tarvel_platform)
set_target_properties(tarvel PROPERTIES
    OUTPUT_NAME ${TARVEL_BUNDLE_NAME}
    MACOSX_BUNDLE_INFO_PLIST ${CMAKE_CURRENT_BINARY_DIR}/Info.plist.in
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
tarvel_warnings(tarvel)

# What the linker does not put into the bundle, then the signature over all of it. A target of its
# own that runs on every build, so that a change of the page alone is copied and signed too.
set(tarvel_bundle_contents $<TARGET_BUNDLE_CONTENT_DIR:tarvel>)
find_program(CODESIGN_EXECUTABLE codesign REQUIRED)
add_custom_target(tarvel_bundle ALL
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tarvel-focus> ${tarvel_bundle_contents}/MacOS/tarvel-focus
    COMMAND ${CMAKE_COMMAND} -DREPOSITORY=${PROJECT_SOURCE_DIR} -DDESTINATION=${tarvel_bundle_contents}/Resources/WebResources
            -P ${PROJECT_SOURCE_DIR}/cmake/SyncWebResources.cmake
    COMMAND ${CMAKE_COMMAND} -DPO_DIRECTORY=${PROJECT_SOURCE_DIR}/po -DDESTINATION=${tarvel_bundle_contents}/Resources
            -P ${CMAKE_CURRENT_LIST_DIR}/StringTables.cmake
    # Nested code first: the helper, then the bundle that seals it.
    COMMAND ${CODESIGN_EXECUTABLE} --force --sign - --timestamp=none ${tarvel_bundle_contents}/MacOS/tarvel-focus
    COMMAND ${CODESIGN_EXECUTABLE} --force --sign - --timestamp=none $<TARGET_BUNDLE_DIR:tarvel>
    COMMENT "Completing and signing ${TARVEL_BUNDLE_NAME}.app"
    VERBATIM)
add_dependencies(tarvel_bundle tarvel tarvel-focus)

install(TARGETS tarvel BUNDLE DESTINATION .)
