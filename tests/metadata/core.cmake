# Metadata core tests and the byte builders the metadata tests share.
add_library(zeloro_metadata_builders STATIC ${CMAKE_CURRENT_LIST_DIR}/MetadataBuilders.cpp)
target_include_directories(zeloro_metadata_builders PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(zeloro_metadata_builders PUBLIC zeloro_testsupport PRIVATE JPEG::JPEG zeloro_warnings)

zeloro_add_test(metadata_core_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/StreamHelpersTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/JpegSegmentsTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ExifTagsTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/TiffReaderTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ExifPropertiesTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ExifOracleTest.cpp
    LIBS zeloro_metadata zeloro_metadata_builders)

# Seeds of the metadata core's fuzz targets, built with the same builders as the tests.
add_executable(metadata_core_seeds ${CMAKE_SOURCE_DIR}/tools/MetadataSeeds.cpp)
target_link_libraries(metadata_core_seeds PRIVATE zeloro_metadata_builders zeloro_warnings)
