# XMP packet and maker-note view.
list(APPEND ZELORO_METADATA_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/XMPPacket.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MakerNotes.cpp)
