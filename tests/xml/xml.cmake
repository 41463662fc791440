zeloro_add_test(zeloro_xml_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/XmlStreamsTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/XmlDocumentTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/XmlTextTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/XmlDateTimeTest.cpp
    LIBS zeloro_xml)
