# The sample photo builder: used by make-sample (the bundled sample) and by the command-line tests.
add_library(zeloro_samplephoto STATIC ${CMAKE_SOURCE_DIR}/tools/SamplePhoto.cpp)
target_include_directories(zeloro_samplephoto PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(zeloro_samplephoto PRIVATE JPEG::JPEG zeloro_warnings)

add_executable(make-sample ${CMAKE_SOURCE_DIR}/tools/make-sample.cpp)
target_link_libraries(make-sample PRIVATE zeloro_samplephoto zeloro_warnings)
set_target_properties(make-sample PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

# Command-line parsing and the terminal observer; the executable joins once the run exists.
add_library(zeloro_cliparts STATIC ${CMAKE_CURRENT_LIST_DIR}/CliOptions.cpp ${CMAKE_CURRENT_LIST_DIR}/CliObserver.cpp)
target_link_libraries(zeloro_cliparts PUBLIC zeloro_common zeloro_time PRIVATE zeloro_warnings)

if(TARGET zeloro_tagging)
    add_executable(zeloro-cli ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
    target_link_libraries(zeloro-cli PRIVATE zeloro_cliparts zeloro_tagging zeloro_trackstore zeloro_time zeloro_warnings)
endif()
