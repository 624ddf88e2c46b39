# Manual pages made from each program's --help and --version by help2man
# (Debian's help2man), installed with the tools; a cross build runs the
# program through its emulator. Without help2man, none are made.
find_program(TWINCAM_HELP2MAN help2man)
set(TWINCAM_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "Where the service's unit is installed")

function(twincam_manpage target summary)
    if(NOT TWINCAM_HELP2MAN)
        message(STATUS "Manual page of ${target} skipped: help2man not found (apt-get install help2man)")
        return()
    endif()
    set(page "${CMAKE_CURRENT_BINARY_DIR}/${target}.1")
    # help2man runs a command by name: a wrapper of the same name runs the
    # target's build, under the emulator where there is one.
    set(runner "${CMAKE_CURRENT_BINARY_DIR}/manpage/${target}")
    string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
    file(GENERATE OUTPUT "${runner}" CONTENT "#!/bin/sh\nexec ${emulator} \"$<TARGET_FILE:${target}>\" \"$@\"\n"
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    add_custom_command(OUTPUT "${page}.gz"
        COMMAND "${TWINCAM_HELP2MAN}" --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
            --name "${summary}" --output "${page}" "${runner}"
        COMMAND gzip -9nf "${page}"
        DEPENDS ${target}
        COMMENT "Manual page of ${target}")
    add_custom_target(${target}-manpage ALL DEPENDS "${page}.gz")
    install(FILES "${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT tools)
endfunction()
