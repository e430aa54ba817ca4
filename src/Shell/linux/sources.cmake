# The application shell: TarvelApp, ContentView, KarabinerMissingView, and the `tarvel` executable
# with the files it finds relative to itself (../share/...), laid out the same in the build tree
# and in an installed tree.
include(GNUInstallDirs)

target_sources(tarvel_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ContentView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/KarabinerMissingView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Resources.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Style.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TarvelApp.cpp
)

add_executable(tarvel ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(tarvel PRIVATE tarvel_platform)
set_target_properties(tarvel PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
tarvel_warnings(tarvel)
install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(TARVEL_SHARE_DIR ${CMAKE_BINARY_DIR}/share)

# The editor page: the repository's WebResources (built first from web/ when that exists), or
# nothing, in which case the application shows its notice document.
add_custom_target(tarvel_web_resources ALL
    COMMAND ${CMAKE_COMMAND} -DREPOSITORY=${PROJECT_SOURCE_DIR} -DDESTINATION=${TARVEL_SHARE_DIR}/tarvel/WebResources
            -P ${PROJECT_SOURCE_DIR}/cmake/SyncWebResources.cmake
    COMMENT "Copying WebResources"
    VERBATIM)
add_dependencies(tarvel tarvel_web_resources)
install(DIRECTORY ${TARVEL_SHARE_DIR}/tarvel/WebResources DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvel OPTIONAL)

# Desktop entry and icon under the application identifier.
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvel.desktop.in ${TARVEL_SHARE_DIR}/applications/${TARVEL_APP_ID}.desktop @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvel.svg ${TARVEL_SHARE_DIR}/icons/hicolor/scalable/apps/${TARVEL_APP_ID}.svg COPYONLY)
install(FILES ${TARVEL_SHARE_DIR}/applications/${TARVEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TARVEL_SHARE_DIR}/icons/hicolor/scalable/apps/${TARVEL_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Translations of the user-visible texts: every po/<language>.po becomes
# share/locale/<language>/LC_MESSAGES/tarvel.mo. The Japanese originals are the message ids.
file(GLOB tarvel_translations CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/*.po)
set(tarvel_catalogs)
if(tarvel_translations)
    find_program(MSGFMT_EXECUTABLE msgfmt REQUIRED)
endif()
foreach(po ${tarvel_translations})
    get_filename_component(language ${po} NAME_WE)
    set(mo ${TARVEL_SHARE_DIR}/locale/${language}/LC_MESSAGES/tarvel.mo)
    add_custom_command(OUTPUT ${mo}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TARVEL_SHARE_DIR}/locale/${language}/LC_MESSAGES
        COMMAND ${MSGFMT_EXECUTABLE} --check -o ${mo} ${po}
        DEPENDS ${po} VERBATIM)
    list(APPEND tarvel_catalogs ${mo})
    install(FILES ${mo} DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
add_custom_target(tarvel_translations ALL DEPENDS ${tarvel_catalogs})
add_dependencies(tarvel tarvel_translations)

# The message template, made anew on demand: cmake --build build --target tarvel-pot
find_program(XGETTEXT_EXECUTABLE xgettext)
if(XGETTEXT_EXECUTABLE)
    add_custom_target(tarvel-pot
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${XGETTEXT_EXECUTABLE} --language=C++ --from-code=UTF-8 --keyword=N_ --package-name=Tarvel
                --sort-output -o ${PROJECT_SOURCE_DIR}/po/tarvel.pot
                src/Shell/KarabinerMissingTexts.h
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        VERBATIM)
endif()
