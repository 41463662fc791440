# The GPX import: timed points of a GPX file into the track table.
add_library(zeloro_gpx STATIC ${CMAKE_CURRENT_LIST_DIR}/GpxImport.cpp)
target_link_libraries(zeloro_gpx PUBLIC zeloro_xml zeloro_trackstore zeloro_common PRIVATE zeloro_warnings)
