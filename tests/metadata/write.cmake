# IPTC and Adobe resources, the EXIF block writer, the JPEG rewrite, thumbnails and the safe file replace.
zeloro_add_test(zeloro_metadata_write_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WriteFixtures.cpp
            ${CMAKE_CURRENT_LIST_DIR}/IPTCDataTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ExifWriterTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ExifInPlaceTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/JPEGImageExTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/RoundTripTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ThumbnailScalerTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/SafeFileWriteTest.cpp
    LIBS zeloro_metadata)

# Seeds of the load-tag-save fuzz target, made by our own writer (run: metadata_write_seeds <folder>).
add_executable(metadata_write_seeds ${CMAKE_SOURCE_DIR}/tools/MetadataWriteSeeds.cpp ${CMAKE_CURRENT_LIST_DIR}/WriteFixtures.cpp)
target_link_libraries(metadata_write_seeds PRIVATE zeloro_metadata zeloro_testsupport zeloro_warnings)
