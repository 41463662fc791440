# GPX import of a generated 1,000,000-point track into a fresh copy of the delivered database; the script
# bench/gpx-import.sh runs it next to xmllint --stream (the parse floor) under /usr/bin/time -v.
add_executable(gpx_make_track ${CMAKE_SOURCE_DIR}/tools/gpx_make_track.cpp)
target_link_libraries(gpx_make_track PRIVATE zeloro_warnings)
add_executable(gpx_import_bench ${CMAKE_CURRENT_LIST_DIR}/GpxImportBench.cpp)
target_link_libraries(gpx_import_bench PRIVATE zeloro_gpx zeloro_trackstore zeloro_warnings)
target_compile_definitions(gpx_import_bench PRIVATE ZELORO_DELIVERED_DB="${CMAKE_BINARY_DIR}/zeloro.sqlite")
add_dependencies(gpx_import_bench zeloro_database)
