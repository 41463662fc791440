# XMP packet and maker-note view.
list(APPEND ZELORO_METADATA_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/XMPPacket.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XMPSchema.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XMPProperty.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XMPReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XMPWriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/LibXml2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MakerNotes.cpp)
