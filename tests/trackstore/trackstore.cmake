zeloro_add_test(zeloro_trackstore_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/TrackStoreTest.cpp ${CMAKE_CURRENT_LIST_DIR}/TrackLookupTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/TrackPositionTest.cpp
    LIBS zeloro_trackstore zeloro_time)
# One test opens the delivered database.
add_dependencies(zeloro_trackstore_tests zeloro_database)
