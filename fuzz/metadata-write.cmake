# Load, tag and save a photo from untrusted bytes, then reload the output.
if(TARGET zeloro_metadata)
    zeloro_add_fuzzer(metadata_write_fuzz ${CMAKE_CURRENT_LIST_DIR}/MetadataWriteFuzz.cpp zeloro_metadata)
endif()
# Adobe resource blocks and IPTC record streams.
if(TARGET zeloro_metadata)
    zeloro_add_fuzzer(metadata_iptc_fuzz ${CMAKE_CURRENT_LIST_DIR}/IptcFuzz.cpp zeloro_metadata)
endif()
