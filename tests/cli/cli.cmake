zeloro_add_test(cli_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/CliOptionsTest.cpp LIBS zeloro_cliparts)

# zeloro-cli as a process, on a temporary copy of the delivered database. Labelled e2e: the sanitizer
# pass of CI skips them (the executable under test is the plain build's).
if(TARGET zeloro-cli)
    add_executable(cli_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/CliEndToEndTest.cpp ${CMAKE_CURRENT_LIST_DIR}/CliProcess.cpp)
    target_link_libraries(cli_e2e_tests PRIVATE zeloro_samplephoto zeloro_metadata SQLite::SQLite3
        zeloro_testsupport GTest::gtest_main zeloro_warnings)
    add_dependencies(cli_e2e_tests zeloro-cli zeloro_database)
    gtest_discover_tests(cli_e2e_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8" LABELS e2e)

    # Every shared test photo tagged by zeloro-cli and judged by exiftool (labelled oracle as well).
    add_executable(cli_oracle_tests ${CMAKE_CURRENT_LIST_DIR}/CliOracleTest.cpp ${CMAKE_CURRENT_LIST_DIR}/CliProcess.cpp)
    target_link_libraries(cli_oracle_tests PRIVATE zeloro_metadata_oracle GTest::gtest_main zeloro_warnings)
    add_dependencies(cli_oracle_tests zeloro-cli zeloro_database)
    gtest_discover_tests(cli_oracle_tests DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8" LABELS "e2e;oracle" TIMEOUT 900)
endif()
