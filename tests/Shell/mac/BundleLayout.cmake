# Checks Tarvel.app as the build leaves it. ARCHITECTURES (comma-separated) are the application's,
# by default the machine's own; tarvel-focus always has both.
#   cmake -DBUNDLE=build/bin/Tarvel.app -DAPP_ID=app.tarvel.Tarvel [-DARCHITECTURES=arm64,x86_64] -P BundleLayout.cmake
cmake_minimum_required(VERSION 3.25)

set(failures)
macro(fail message)
    list(APPEND failures "${message}")
endmacro()

function(run result)
    execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE error RESULT_VARIABLE status
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(${result} "${output}" PARENT_SCOPE)
    set(${result}_STATUS "${status}" PARENT_SCOPE)
    set(${result}_ERROR "${error}" PARENT_SCOPE)
endfunction()

set(contents ${BUNDLE}/Contents)
foreach(program Tarvel tarvel-focus)
    if(NOT EXISTS ${contents}/MacOS/${program} OR IS_DIRECTORY ${contents}/MacOS/${program})
        fail("Contents/MacOS/${program} is missing")
    endif()
endforeach()
foreach(resource WebResources/index.html Tarvel.icns ja.lproj/Localizable.strings en.lproj/Localizable.strings
                 ja.lproj/Panels.strings en.lproj/Panels.strings)
    if(NOT EXISTS ${contents}/Resources/${resource})
        fail("Contents/Resources/${resource} is missing")
    endif()
endforeach()
# Every string table reads (a table that does not is ignored, and its keys show).
file(GLOB tables ${contents}/Resources/*.lproj/*.strings)
foreach(table IN LISTS tables)
    run(lint plutil -lint ${table})
    if(NOT lint_STATUS EQUAL 0)
        fail("${table} does not read: ${lint}${lint_ERROR}")
    endif()
endforeach()
# The confirmation's buttons in both languages.
foreach(language en ja)
    if(EXISTS ${contents}/Resources/${language}.lproj/Panels.strings)
        file(READ ${contents}/Resources/${language}.lproj/Panels.strings table)
        foreach(key OK Cancel)
            if(NOT table MATCHES "\"${key}\" = \"[^\"]+\";")
                fail("${language}.lproj/Panels.strings has no title for ${key}")
            endif()
        endforeach()
    endif()
endforeach()

# Info.plist.
# English and Japanese declared, so that each user's panels, menus and page follow their language;
# frameworks may follow a language the application lacks.
foreach(pair "CFBundleIdentifier=${APP_ID}" "LSMinimumSystemVersion=14.0" "CFBundleExecutable=Tarvel"
             "CFBundleIconFile=Tarvel.icns" "CFBundlePackageType=APPL" "CFBundleDevelopmentRegion=en"
             "CFBundleAllowMixedLocalizations=true" "CFBundleLocalizations.0=en" "CFBundleLocalizations.1=ja")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 expected)
    run(value plutil -extract ${key} raw ${contents}/Info.plist)
    if(NOT value STREQUAL expected)
        fail("Info.plist ${key} is '${value}', not '${expected}'")
    endif()
endforeach()

# The notice's texts are keys of the Japanese table.
file(READ ${contents}/Resources/ja.lproj/Localizable.strings table)
file(READ ${CMAKE_CURRENT_LIST_DIR}/../../../src/Shell/KarabinerMissingTexts.h header)
string(REGEX MATCHALL "N_\\(\"[^\"]+\"\\)" texts "${header}")
list(LENGTH texts count)
if(NOT count EQUAL 4)
    fail("expected the four notice texts in KarabinerMissingTexts.h, found ${count}")
endif()
foreach(text IN LISTS texts)
    string(REGEX REPLACE "^N_\\((\"[^\"]+\")\\)$" "\\1" key "${text}")
    string(FIND "${table}" "${key} = " at)
    if(at EQUAL -1)
        fail("ja.lproj/Localizable.strings has no key ${key}")
    endif()
endforeach()

# The helper for both Mac architectures, the application for those it was built for.
if(ARCHITECTURES)
    string(REPLACE "," ";" ARCHITECTURES "${ARCHITECTURES}")
else()
    run(ARCHITECTURES uname -m)
endif()
foreach(program tarvel-focus Tarvel)  # the application's last, for the report below
    if(program STREQUAL "tarvel-focus")
        set(expected arm64 x86_64)
    else()
        set(expected ${ARCHITECTURES})
    endif()
    run(archs lipo -archs ${contents}/MacOS/${program})
    string(REPLACE " " ";" found "${archs}")
    list(SORT found)
    list(SORT expected)
    if(NOT found STREQUAL expected)
        list(JOIN expected " " wanted)
        fail("${program} is built for '${archs}', not '${wanted}'")
    endif()
endforeach()

# Signed (ad hoc), sealing everything, and not sandboxed.
run(verified codesign --verify --strict --deep ${BUNDLE})
if(NOT verified_STATUS EQUAL 0)
    fail("codesign --verify: ${verified_ERROR}")
endif()
run(entitlements codesign --display --entitlements - ${BUNDLE})
if(entitlements MATCHES "app-sandbox")
    fail("Tarvel is sandboxed")
endif()

if(failures)
    list(JOIN failures "\n  " report)
    message(FATAL_ERROR "Tarvel.app:\n  ${report}")
endif()
message(STATUS "Tarvel.app (${archs}) is complete and signed")
