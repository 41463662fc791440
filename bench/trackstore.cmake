# Track lookups over 1,000,000 points in a copy of the delivered database, and the import rate.
find_package(benchmark REQUIRED)
add_executable(zeloro_trackstore_bench ${CMAKE_CURRENT_LIST_DIR}/TrackLookupBench.cpp)
target_link_libraries(zeloro_trackstore_bench PRIVATE zeloro_trackstore zeloro_time benchmark::benchmark
    zeloro_warnings)
target_compile_definitions(zeloro_trackstore_bench PRIVATE ZELORO_DELIVERED_DB="${CMAKE_BINARY_DIR}/zeloro.sqlite")
add_dependencies(zeloro_trackstore_bench zeloro_database)
