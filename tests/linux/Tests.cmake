# Linux platform-layer and end-to-end suites; each folder lists its own.
# Suites that need a display run their executable through tests/with-display and carry the
# label "display", so `ctest -LE display` runs everything else on a machine without one.
set(TARVEL_WITH_DISPLAY ${CMAKE_CURRENT_SOURCE_DIR}/with-display)
foreach(folder Platform Karabiner Web Apps Shell)
    include(${CMAKE_CURRENT_SOURCE_DIR}/${folder}/linux/tests.cmake OPTIONAL)
endforeach()
