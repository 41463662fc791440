# Texts the track store reads from GPX files and the database, and the text helpers.
zeloro_add_fuzzer(trackstore_text_fuzz ${CMAKE_CURRENT_LIST_DIR}/trackstore_text_fuzzer.cpp zeloro_trackstore)
