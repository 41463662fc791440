# zeloro --version and --help with no display at all: answered before any window is needed, exit 0,
# nothing on the error stream; the version is the one zeloro-cli --version gives.
# Usage: cmake -DWINDOW=path/zeloro -DCLI=path/zeloro-cli -P StartWithoutDisplay.cmake
set(no_display ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM)

execute_process(COMMAND ${CLI} --version RESULT_VARIABLE rc OUTPUT_VARIABLE cli_out)
if(NOT rc EQUAL 0 OR NOT cli_out MATCHES "^zeloro-cli ([^\n]+)\n$")
    message(FATAL_ERROR "zeloro-cli --version gave status ${rc} and '${cli_out}'")
endif()
set(version ${CMAKE_MATCH_1})

execute_process(COMMAND ${no_display} ${WINDOW} --version
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "zeloro ${version}\n" OR NOT err STREQUAL "")
    message(FATAL_ERROR "zeloro --version without a display: status ${rc}, out '${out}', err '${err}'")
endif()

execute_process(COMMAND ${no_display} ${WINDOW} --help
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "^Aufruf: zeloro\n" OR NOT out MATCHES "--version" OR NOT err STREQUAL "")
    message(FATAL_ERROR "zeloro --help without a display: status ${rc}, out '${out}', err '${err}'")
endif()
