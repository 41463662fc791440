# The container's enumerated properties, property objects and Windows-string setters.
zeloro_add_test(zeloro_metadata_props_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PropertiesTest.cpp
    LIBS zeloro_metadata zeloro_metadata_builders)
