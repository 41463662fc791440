# The tagging run and the session the front ends own. It joins the build once everything it drives exists.
set(ZELORO_TAGGING_DEPS zeloro_gpx zeloro_trackstore zeloro_metadata zeloro_time zeloro_helper zeloro_mapexport)
set(ZELORO_TAGGING_READY ON)
# zeloro_time and zeloro_helper come from this folder's time.cmake, which is read after this file.
foreach(dep zeloro_gpx zeloro_trackstore zeloro_metadata zeloro_mapexport)
    if(NOT TARGET ${dep})
        set(ZELORO_TAGGING_READY OFF)
    endif()
endforeach()
foreach(header gpx/GpxImport.h metadata/ExifData.h metadata/JPEGImageEx.h mapexport/MapPage.h)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/src/${header})
        set(ZELORO_TAGGING_READY OFF)
    endif()
endforeach()
if(ZELORO_TAGGING_READY)
    add_library(zeloro_tagging STATIC
        ${CMAKE_CURRENT_LIST_DIR}/TaggingRun.cpp
        ${CMAKE_CURRENT_LIST_DIR}/TaggingSession.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PhotoLocator.cpp)
    target_link_libraries(zeloro_tagging PUBLIC zeloro_common ${ZELORO_TAGGING_DEPS} PRIVATE zeloro_warnings)
endif()
