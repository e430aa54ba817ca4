# macOS platform-layer and end-to-end suites; each folder lists its own. Suites that need the window
# server carry the label "display", so `ctest -LE display` runs everything else.
foreach(folder Karabiner Web Apps Shell)
    include(${CMAKE_CURRENT_SOURCE_DIR}/${folder}/mac/tests.cmake OPTIONAL)
endforeach()
