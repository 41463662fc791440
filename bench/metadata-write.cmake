# Tagging and saving large photos in place against `cp` of the same files (see the usage in the source).
if(TARGET zeloro_metadata)
    add_executable(metadata_write_bench ${CMAKE_CURRENT_LIST_DIR}/MetadataWriteBench.cpp)
    target_link_libraries(metadata_write_bench PRIVATE zeloro_metadata zeloro_warnings)
endif()
