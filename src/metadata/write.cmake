# Writer side of the metadata library: IPTC and Adobe resources, the EXIF block writers (in place and laid
# out afresh), the JPEG rewrite, thumbnail reduction and the safe file replace.
list(APPEND ZELORO_METADATA_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AdobeResources.cpp
    ${CMAKE_CURRENT_LIST_DIR}/IPTCData.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifWriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExifInPlaceWriter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/TiffBytes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JPEGImageEx.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JPEGImage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ThumbnailScaler.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SafeFileWrite.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/JpegCodec.cpp)
