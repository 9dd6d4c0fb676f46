# Setup of the tests under Wine: their prefix, and a runtime directory of
# their own, private as Wine 10 requires, else it writes a complaint on
# standard error. Then proof that Wine itself writes nothing there: the
# tests take every line on standard error for the program's.
# Set by the caller: WINE, PROGRAM (writes nothing on standard error),
# RUNTIME; WINEPREFIX and XDG_RUNTIME_DIR (RUNTIME) in the environment.
file(REMOVE_RECURSE "${RUNTIME}")
file(MAKE_DIRECTORY "${RUNTIME}")
file(CHMOD "${RUNTIME}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE
     OWNER_EXECUTE)
execute_process(COMMAND ${WINE} wineboot COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WINE} ${PROGRAM} OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT err STREQUAL "")
  message(FATAL_ERROR "Wine itself writes on standard error, where the tests "
          "read the program's lines: ${err}")
endif()
