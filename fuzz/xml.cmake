# The XML loader with its lookups, and the date-time conversion of time texts.
zeloro_add_fuzzer(xml_load_fuzz ${CMAKE_CURRENT_LIST_DIR}/xml_load_fuzzer.cpp zeloro_xml)
zeloro_add_fuzzer(xml_datetime_fuzz ${CMAKE_CURRENT_LIST_DIR}/xml_datetime_fuzzer.cpp zeloro_xml)
if(TARGET zeloro_gpx)
    zeloro_add_fuzzer(gpx_import_fuzz ${CMAKE_CURRENT_LIST_DIR}/gpx_import_fuzzer.cpp zeloro_gpx)
endif()
