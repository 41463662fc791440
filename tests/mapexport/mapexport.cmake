zeloro_add_test(zeloro_mapexport_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MapPageTest.cpp
    LIBS zeloro_mapexport)
# One test checks the marker image the build draws.
add_dependencies(zeloro_mapexport_tests zeloro_marker)
