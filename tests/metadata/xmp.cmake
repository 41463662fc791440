# XMP packet and maker-note view.
zeloro_add_test(zeloro_metadata_xmp_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/XMPPacketTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/MakerNotesTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/XMPRoadTest.cpp
    LIBS zeloro_metadata zeloro_metadata_builders)
