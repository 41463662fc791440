# The sample photo builder: used by make-sample (the bundled sample) and by the command-line tests.
add_library(zeloro_samplephoto STATIC ${CMAKE_SOURCE_DIR}/tools/SamplePhoto.cpp)
target_include_directories(zeloro_samplephoto PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(zeloro_samplephoto PRIVATE JPEG::JPEG zeloro_warnings)

add_executable(make-sample ${CMAKE_SOURCE_DIR}/tools/make-sample.cpp)
target_link_libraries(make-sample PRIVATE zeloro_samplephoto zeloro_warnings)
