# Setup of the tests under Wine: their prefix, and a runtime directory of
# their own, private as Wine 10 requires, else it writes a complaint on
# standard error. Then proof that Wine itself writes nothing there: the
# tests take every line on standard error for the program's.
# Set by the caller: WINE, SERVER (wineserver), PROGRAM (writes nothing on
# standard error), RUNTIME; WINEPREFIX and XDG_RUNTIME_DIR (RUNTIME) in the
# environment.
file(REMOVE_RECURSE "${RUNTIME}")
file(MAKE_DIRECTORY "${RUNTIME}" "$ENV{WINEPREFIX}")
file(CHMOD "${RUNTIME}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE
     OWNER_EXECUTE)
# Wine's server ends a few seconds after its last program, and a program
# that connects just then is cut off ("recvmsg: Connection reset by peer"):
# one server lasts until the last test ends it (or ten minutes idle), after
# any left by an interrupted run. It and wineboot's services hold their
# standard output and error open, which CTest would wait on.
execute_process(COMMAND ${SERVER} -k)
execute_process(COMMAND ${SERVER} -p600 ERROR_FILE "${RUNTIME}/server.log"
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WINE} wineboot OUTPUT_FILE "${RUNTIME}/boot.log"
                ERROR_FILE "${RUNTIME}/boot.log" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WINE} ${PROGRAM} OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT err STREQUAL "")
  message(FATAL_ERROR "Wine itself writes on standard error, where the tests "
          "read the program's lines: ${err}")
endif()
