zeloro_add_test(zeloro_time_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/TimeRulesTest.cpp ${CMAKE_CURRENT_LIST_DIR}/HelperTest.cpp
        ${CMAKE_SOURCE_DIR}/tests/time/CameraZoneTest.cpp
    LIBS zeloro_time zeloro_helper)
