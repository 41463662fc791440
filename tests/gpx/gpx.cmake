# libxml2 serves only as the independent reader that counts the timed points of the shared GPX files.
zeloro_add_test(zeloro_gpx_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/GpxImportTest.cpp ${CMAKE_CURRENT_LIST_DIR}/GpxImportDetailsTest.cpp
    LIBS zeloro_gpx LibXml2::LibXml2)
