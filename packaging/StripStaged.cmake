# Runs in cpack on the staged files: strips every program, as a Debian package ships them. The bundles
# are installed as folders, which install(TARGETS)' own stripping does not reach. Symbols that other
# code links against stay, and with them the names in logged backtraces (-rdynamic).
find_program(strip NAMES strip REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
    if(NOT IS_SYMLINK "${file}")
        file(READ "${file}" magic LIMIT 4 HEX)
        if(magic STREQUAL "7f454c46")
            execute_process(COMMAND "${strip}" --strip-unneeded --remove-section=.comment --remove-section=.note
                "${file}" COMMAND_ERROR_IS_FATAL ANY)
        endif()
    endif()
endforeach()
