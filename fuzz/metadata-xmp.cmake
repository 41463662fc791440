# XMP packet load and the maker-note view over untrusted bytes.
if(TARGET zeloro_metadata)
    zeloro_add_fuzzer(metadata_xmp_fuzz ${CMAKE_CURRENT_LIST_DIR}/XMPPacketFuzz.cpp zeloro_metadata)
    zeloro_add_fuzzer(metadata_makernote_fuzz ${CMAKE_CURRENT_LIST_DIR}/MakerNoteFuzz.cpp zeloro_metadata)
endif()
