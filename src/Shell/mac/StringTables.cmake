# Writes the application's string tables from the gettext catalogs in PO_DIRECTORY into
# DESTINATION/<language>.lproj/Localizable.strings. The notice's Japanese texts are the keys: the
# template (tarvel.pot) gives the development language's table, ja, each key standing for itself;
# each <language>.po gives that language's translations (entries without one are left out, so the
# key shows).
#   cmake -DPO_DIRECTORY=po -DDESTINATION=Tarvel.app/Contents/Resources -P StringTables.cmake
cmake_minimum_required(VERSION 3.25)

# The entries of a catalog as a list of "key<TAB>value" items, both still escaped as in C (which is
# how a .strings file escapes too). The header (empty id) and fuzzy entries are skipped.
function(read_catalog file result)
    file(STRINGS ${file} lines ENCODING UTF-8)
    set(entries)
    set(part none)
    set(key "")
    set(value "")
    set(fuzzy FALSE)
    # A comment or the next id ends an entry; a sentinel comment ends the last.
    list(APPEND lines "#")
    foreach(line IN LISTS lines)
        if(line MATCHES "^#" OR line MATCHES "^msgid ")
            if(part STREQUAL "value")
                if(NOT key STREQUAL "" AND NOT fuzzy)
                    string(REPLACE ";" "\\;" item "${key}\t${value}")
                    list(APPEND entries "${item}")
                endif()
                set(fuzzy FALSE)
            endif()
            set(part none)
        endif()
        if(line MATCHES "^msgid \"(.*)\"$")
            set(part key)
            set(key "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^msgstr \"(.*)\"$")
            set(part value)
            set(value "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^\"(.*)\"$")
            if(part STREQUAL "key")
                string(APPEND key "${CMAKE_MATCH_1}")
            elseif(part STREQUAL "value")
                string(APPEND value "${CMAKE_MATCH_1}")
            endif()
        elseif(line MATCHES "^#,.*fuzzy")
            set(fuzzy TRUE)
        endif()
    endforeach()
    set(${result} "${entries}" PARENT_SCOPE)
endfunction()

function(write_table language entries identity)
    set(content "/* Made from the gettext catalogs in po/; edit those. */\n")
    foreach(entry IN LISTS entries)
        string(FIND "${entry}" "\t" tab)
        string(SUBSTRING "${entry}" 0 ${tab} key)
        math(EXPR start "${tab} + 1")
        string(SUBSTRING "${entry}" ${start} -1 value)
        if(identity)
            set(value "${key}")
        endif()
        if(NOT value STREQUAL "")
            string(APPEND content "\"${key}\" = \"${value}\";\n")
        endif()
    endforeach()
    file(WRITE ${DESTINATION}/${language}.lproj/Localizable.strings "${content}")
endfunction()

read_catalog(${PO_DIRECTORY}/tarvel.pot template)
write_table(ja "${template}" TRUE)

file(GLOB catalogs ${PO_DIRECTORY}/*.po)
set(written ja)
foreach(catalog IN LISTS catalogs)
    get_filename_component(language ${catalog} NAME_WE)
    read_catalog(${catalog} entries)
    write_table(${language} "${entries}" FALSE)
    list(APPEND written ${language})
endforeach()

# Every localization that Info.plist declares has its folder, so that macOS runs the application
# (and its panels and the page) in that language; without a catalog, its table is empty and the
# Japanese originals show.
foreach(language IN ITEMS en)
    if(NOT language IN_LIST written)
        write_table(${language} "" FALSE)
    endif()
endforeach()
