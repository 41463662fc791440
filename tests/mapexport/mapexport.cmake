zeloro_add_test(zeloro_mapexport_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MapPageTest.cpp
    LIBS zeloro_mapexport)
# One test checks the marker image the build draws.
add_dependencies(zeloro_mapexport_tests zeloro_marker)

# The written page in headless Chromium (started by the test, no network), from a copy of build/maps/.
# Labelled browser; it runs in every ctest and skips only when chromium is absent outside CI.
add_executable(zeloro_mapexport_browser_tests ${CMAKE_CURRENT_LIST_DIR}/MapBrowserTest.cpp
    ${CMAKE_SOURCE_DIR}/tests/cli/CliProcess.cpp)
target_link_libraries(zeloro_mapexport_browser_tests PRIVATE zeloro_mapexport zeloro_testsupport
    GTest::gtest_main zeloro_warnings)
add_dependencies(zeloro_mapexport_browser_tests zeloro_marker zeloro_leaflet)
gtest_discover_tests(zeloro_mapexport_browser_tests DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8" LABELS browser TIMEOUT 300)
