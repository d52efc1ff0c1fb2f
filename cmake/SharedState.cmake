# Where every account of one group shares the state of a system-wide install:
# ayar.ini and portlar.ini in RELO_SHARED_STATE_DIR, the command queue in
# RELO_SHARED_RUN_DIR (gone at reboot, as the queue may be). Both folders belong
# to root and RELO_SHARED_GROUP, mode 2775: members make files there, the folder
# gives them its group, and any member may clear what a dead process left.
# core/ gets the paths as compile definitions; the programs use them only where
# their own folder is not writable and the folder exists (see ARCHITECTURE.md).
set(RELO_SHARED_STATE_DIR /var/lib/relo CACHE PATH
    "Folder of the shared ayar.ini and portlar.ini of a system-wide install")
set(RELO_SHARED_RUN_DIR /run/relo CACHE PATH
    "Folder of the shared command queue of a system-wide install")
set(RELO_SHARED_GROUP dialout CACHE STRING
    "Group whose members share the state (the group of the serial devices)")

# The systemd-tmpfiles entry that makes the folders at boot and at install.
configure_file(${CMAKE_SOURCE_DIR}/packaging/tmpfiles.d/relo.conf.in
               ${CMAKE_BINARY_DIR}/packaging/tmpfiles.d/relo.conf @ONLY)

# Installed to <prefix>/lib/tmpfiles.d (for /usr: /usr/lib/tmpfiles.d, where
# systemd-tmpfiles reads it). An install onto this machine (no DESTDIR; the
# package is staged under one and its postinst does this) also makes the folders
# now: through systemd-tmpfiles when systemd runs, else by hand.
install(FILES ${CMAKE_BINARY_DIR}/packaging/tmpfiles.d/relo.conf
        DESTINATION lib/tmpfiles.d
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(CODE "
    execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
        # staged (the package): its postinst makes the folders
    elseif(NOT uid STREQUAL \"0\")
        message(STATUS \"Shared folders not made (root only): systemd-tmpfiles --create \${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d/relo.conf\")
    else()
        set(conf \"\${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d/relo.conf\")
        find_program(tmpfiles systemd-tmpfiles)
        if(tmpfiles AND EXISTS /run/systemd/system)
            execute_process(COMMAND \"\${tmpfiles}\" --create \"\${conf}\" RESULT_VARIABLE failed)
        else()
            set(failed 1)
        endif()
        if(failed)
            foreach(folder \"${RELO_SHARED_STATE_DIR}\" \"${RELO_SHARED_RUN_DIR}\" \"${RELO_SHARED_RUN_DIR}/kuyruk\")
                execute_process(COMMAND mkdir -p \"\${folder}\")
                execute_process(COMMAND chgrp \"${RELO_SHARED_GROUP}\" \"\${folder}\")
                execute_process(COMMAND chmod 2775 \"\${folder}\")
            endforeach()
        endif()
        message(STATUS \"Shared folders: ${RELO_SHARED_STATE_DIR} ${RELO_SHARED_RUN_DIR}\")
    endif()
")
