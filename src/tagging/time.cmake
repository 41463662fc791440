# The time rules and the file and text helpers: leaf libraries, so that the track store can use them
# without linking the tagging run.
# Named zones come from the system's time-zone database through the date library.
find_package(date CONFIG REQUIRED)
add_library(zeloro_time STATIC ${CMAKE_CURRENT_LIST_DIR}/TimeRules.cpp ${CMAKE_SOURCE_DIR}/src/time/CameraZone.cpp)
target_link_libraries(zeloro_time PUBLIC zeloro_common PRIVATE date::date-tz zeloro_warnings)

add_library(zeloro_helper STATIC ${CMAKE_CURRENT_LIST_DIR}/Helper.cpp)
target_link_libraries(zeloro_helper PUBLIC zeloro_common PRIVATE zeloro_warnings)
