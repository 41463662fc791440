# The XML reader: decoding stream, document loader and node tree, date-time texts.
add_library(zeloro_xml STATIC
    ${CMAKE_CURRENT_LIST_DIR}/XmlStreams.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XmlText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XmlDocument.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XmlArena.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XmlNode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XmlLoader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XmlDateTime.cpp)
target_link_libraries(zeloro_xml PUBLIC zeloro_common PRIVATE zeloro_warnings)
