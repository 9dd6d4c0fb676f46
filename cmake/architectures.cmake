# pidrecord_architecture(CPU [OPTIONAL]): sets PIDRECORD_<COLUMN> (DEBIAN,
# RPM, TRIPLET, MUSL, QEMU, CFI, MARKER, MAX) from CPU's row of the table
# beside this file, a "-" as nothing; with OPTIONAL, a CPU without a row
# sets nothing.
function(pidrecord_architecture cpu)
  file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/architectures rows
       REGEX "^${cpu} ")
  if(NOT rows AND ARGV1 STREQUAL "OPTIONAL")
    return()
  elseif(NOT rows)
    message(FATAL_ERROR "no architecture ${cpu} in cmake/architectures")
  endif()
  string(REGEX REPLACE " +" ";" row "${rows}")
  set(i 1)
  foreach(column DEBIAN RPM TRIPLET MUSL QEMU CFI MARKER MAX)
    list(GET row ${i} value)
    if(value STREQUAL "-")
      set(value "")
    endif()
    set(PIDRECORD_${column} "${value}" PARENT_SCOPE)
    math(EXPR i "${i} + 1")
  endforeach()
endfunction()
