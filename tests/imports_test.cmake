# The executable must run on a bare Windows and start at the floor: it
# imports only the DLLs that any MinGW-w64 program does. Set by the caller:
# OBJDUMP, EXE.

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]*" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(line IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(kernel32|msvcrt)\\.dll$")
    message(SEND_ERROR "${EXE} imports ${dll}")
  endif()
endforeach()
