# Reading DateTimeOriginal from large photos: head-window reads against whole-file reads.
find_package(benchmark REQUIRED)
add_executable(zeloro_metadata_read_bench ${CMAKE_CURRENT_LIST_DIR}/MetadataReadBench.cpp)
target_link_libraries(zeloro_metadata_read_bench PRIVATE zeloro_metadata benchmark::benchmark zeloro_warnings)
target_compile_definitions(zeloro_metadata_read_bench PRIVATE ZELORO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
