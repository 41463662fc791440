# exiftool as the judge of a tagged photo, shared with the command line's oracle test.
add_library(zeloro_metadata_oracle STATIC ${CMAKE_CURRENT_LIST_DIR}/ExiftoolOracle.cpp)
target_include_directories(zeloro_metadata_oracle PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(zeloro_metadata_oracle PUBLIC zeloro_metadata zeloro_testsupport PRIVATE zeloro_warnings)

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
    LIBS zeloro_metadata zeloro_metadata_oracle)

# Seeds of the load-tag-save fuzz target, made by our own writer (run: metadata_write_seeds <folder>).
add_executable(metadata_write_seeds ${CMAKE_SOURCE_DIR}/tools/MetadataWriteSeeds.cpp ${CMAKE_CURRENT_LIST_DIR}/WriteFixtures.cpp)
target_link_libraries(metadata_write_seeds PRIVATE zeloro_metadata zeloro_testsupport zeloro_warnings)
