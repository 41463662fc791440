# The map page, and the marker image it draws, built by a tool of ours into build/maps/.
add_library(zeloro_mapexport STATIC ${CMAKE_CURRENT_LIST_DIR}/MapPage.cpp)
target_link_libraries(zeloro_mapexport PUBLIC zeloro_common PRIVATE zeloro_helper zeloro_warnings)

add_executable(zeloro_make_marker ${CMAKE_SOURCE_DIR}/tools/MakeMarker.cpp)
target_link_libraries(zeloro_make_marker PRIVATE zeloro_warnings)
set_target_properties(zeloro_make_marker PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

set(ZELORO_MARKER_FILE ${CMAKE_BINARY_DIR}/maps/marker.png)
add_custom_command(OUTPUT ${ZELORO_MARKER_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/maps
    COMMAND zeloro_make_marker ${ZELORO_MARKER_FILE}
    DEPENDS zeloro_make_marker
    COMMENT "Drawing the map marker maps/marker.png"
    VERBATIM)
add_custom_target(zeloro_marker ALL DEPENDS ${ZELORO_MARKER_FILE})

# The maps folder receives index.html at every "Maps" command, so it is writable by every desktop user.
install(DIRECTORY ${CMAKE_BINARY_DIR}/maps DESTINATION /var/lib/kvd/zeloro
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ WORLD_WRITE
    DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE GROUP_EXECUTE
                          WORLD_READ WORLD_WRITE WORLD_EXECUTE)
