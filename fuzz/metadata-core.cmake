# Metadata core: the JPEG segment walk and the EXIF load path over untrusted bytes.
if(TARGET zeloro_metadata)
    zeloro_add_fuzzer(metadata_segments_fuzz ${CMAKE_CURRENT_LIST_DIR}/MetadataSegmentsFuzz.cpp zeloro_metadata)
    zeloro_add_fuzzer(metadata_exif_load_fuzz ${CMAKE_CURRENT_LIST_DIR}/MetadataExifLoadFuzz.cpp zeloro_metadata)
endif()
