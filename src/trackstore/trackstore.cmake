# The track store: data-access layer over sqlite3, data folder, track lookup; and the delivered
# database zeloro.sqlite, built from db/schema.sql by a tool of ours (no sqlite3 shell needed).
add_library(zeloro_trackstore STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Database.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrackStore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrackLookup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrackDetails.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TrackPosition.cpp)
target_link_libraries(zeloro_trackstore PUBLIC zeloro_common zeloro_time zeloro_helper
    PRIVATE SQLite::SQLite3 zeloro_warnings)

add_executable(zeloro_make_database ${CMAKE_SOURCE_DIR}/tools/MakeTrackDatabase.cpp)
target_link_libraries(zeloro_make_database PRIVATE SQLite::SQLite3 zeloro_warnings)
set_target_properties(zeloro_make_database PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

set(ZELORO_DATABASE_FILE ${CMAKE_BINARY_DIR}/zeloro.sqlite)
add_custom_command(OUTPUT ${ZELORO_DATABASE_FILE}
    COMMAND zeloro_make_database ${CMAKE_SOURCE_DIR}/db/schema.sql ${ZELORO_DATABASE_FILE}
    DEPENDS zeloro_make_database ${CMAKE_SOURCE_DIR}/db/schema.sql
    COMMENT "Building the track database zeloro.sqlite"
    VERBATIM)
add_custom_target(zeloro_database ALL DEPENDS ${ZELORO_DATABASE_FILE})

# The common data folder: the database and its folder (SQLite writes its journal beside the file) are
# writable by every desktop user, as the common application-data folder is.
set(ZELORO_DATA_INSTALL_DIR /var/lib/kvd/zeloro)
install(FILES ${ZELORO_DATABASE_FILE} DESTINATION ${ZELORO_DATA_INSTALL_DIR}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ WORLD_WRITE)
install(DIRECTORY DESTINATION ${ZELORO_DATA_INSTALL_DIR}
    DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE GROUP_EXECUTE
                          WORLD_READ WORLD_WRITE WORLD_EXECUTE)
