# The tagging run and the session, on temporary databases, photos and tracks built by the tests.
if(TARGET zeloro_tagging)
    zeloro_add_test(tagging_run_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/TaggingRunTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PhotoLocatorTest.cpp
        LIBS zeloro_tagging zeloro_samplephoto)
endif()
