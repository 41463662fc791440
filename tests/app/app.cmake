# The window's widget set, and the window itself once it is built (both need the Qt offscreen platform
# only, no display).
if(TARGET zeloro_widgets)
    # Qt's imported targets are visible only in the folders that looked for them.
    find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
    zeloro_add_test(app_widgets_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/WidgetSetTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LeakSuppressions.cpp LIBS zeloro_widgets Qt6::Test)
endif()
if(TARGET zeloro_app)
    zeloro_add_test(app_window_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainFormTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LeakSuppressions.cpp LIBS zeloro_app zeloro_trackstore Qt6::Test)
    # The tests copy the delivered database and look for the help document beside the executable.
    add_dependencies(app_window_test zeloro_database zeloro_doku)
endif()
