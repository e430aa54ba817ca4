cmake_minimum_required(VERSION 3.25)
# Installs the build into PREFIX and checks that every file lies where the application and the
# desktop look for it.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
set(expected
    bin/tarvel
    share/applications/${APP_ID}.desktop
    share/icons/hicolor/scalable/apps/${APP_ID}.svg)
if(EXISTS ${BUILD}/share/tarvel/WebResources/index.html)
    list(APPEND expected share/tarvel/WebResources/index.html)
endif()
file(GLOB catalogs RELATIVE ${BUILD} ${BUILD}/share/locale/*/LC_MESSAGES/tarvel.mo)
list(APPEND expected ${catalogs})
foreach(path ${expected})
    if(NOT EXISTS ${PREFIX}/${path})
        message(FATAL_ERROR "missing after install: ${path}")
    endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/${APP_ID}.desktop entry)
if(NOT "Exec=tarvel" IN_LIST entry OR NOT "Icon=${APP_ID}" IN_LIST entry)
    message(FATAL_ERROR "desktop entry does not start tarvel with its icon: ${entry}")
endif()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "installed layout: ${expected}")
