# The container's property objects (versions, flash, resolutions, ISO speed ratings).
list(APPEND ZELORO_METADATA_SOURCES ${CMAKE_CURRENT_LIST_DIR}/ExifPropertyObjects.cpp)
