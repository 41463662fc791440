# Metadata core: streams, JPEG segments, EXIF tags and sections, TIFF reader, container, properties.
list(APPEND ZELORO_METADATA_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/StreamHelpers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JpegSegments.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifTags.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifTag.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifSection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExtendableExifSection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/ExifTagText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiffReader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifData.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifProperties.cpp)
