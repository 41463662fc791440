# IPTC and Adobe resources, the EXIF block writer, the JPEG rewrite, thumbnails and the safe file replace.
zeloro_add_test(zeloro_metadata_write_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/WriteFixtures.cpp
            ${CMAKE_CURRENT_LIST_DIR}/IPTCDataTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ExifWriterTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/JPEGImageExTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/RoundTripTest.cpp
    LIBS zeloro_metadata)
