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

# Leaflet from Debian's libjs-leaflet beside the page, so the page loads no script from the net. The
# images/ folder sits where leaflet.css looks for its images.
set(ZELORO_LEAFLET_DIR /usr/share/javascript/leaflet
    CACHE PATH "Leaflet's files (Debian package libjs-leaflet)")
set(ZELORO_LEAFLET_FILES leaflet.js leaflet.css images/marker-icon.png images/marker-icon-2x.png
    images/marker-shadow.png images/layers.png images/layers-2x.png)
set(ZELORO_LEAFLET_OUTPUTS "")
foreach(file ${ZELORO_LEAFLET_FILES})
    if(NOT EXISTS ${ZELORO_LEAFLET_DIR}/${file})
        message(FATAL_ERROR
            "${ZELORO_LEAFLET_DIR}/${file} is missing: install libjs-leaflet (scripts/bootstrap.sh)")
    endif()
    get_filename_component(folder ${CMAKE_BINARY_DIR}/maps/${file} DIRECTORY)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/maps/${file}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${CMAKE_COMMAND} -E copy ${ZELORO_LEAFLET_DIR}/${file} ${CMAKE_BINARY_DIR}/maps/${file}
        DEPENDS ${ZELORO_LEAFLET_DIR}/${file}
        VERBATIM)
    list(APPEND ZELORO_LEAFLET_OUTPUTS ${CMAKE_BINARY_DIR}/maps/${file})
endforeach()
add_custom_target(zeloro_leaflet ALL DEPENDS ${ZELORO_LEAFLET_OUTPUTS} COMMENT "Copying Leaflet into maps/")

# The maps folder receives index.html at every "Maps" command, so it is writable by every desktop user.
# A page a run in the build tree left there is no part of what is delivered.
install(DIRECTORY ${CMAKE_BINARY_DIR}/maps DESTINATION /var/lib/kvd/zeloro
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ WORLD_WRITE
    DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE GROUP_EXECUTE
                          WORLD_READ WORLD_WRITE WORLD_EXECUTE
    PATTERN index.html EXCLUDE)
