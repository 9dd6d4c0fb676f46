# pidrecord_architecture(CPU [OPTIONAL]): sets PIDRECORD_<COLUMN> for each
# column of CPU's row of the table beside this file, named by its header
# line in upper case (PIDRECORD_DEBIAN, PIDRECORD_TRIPLET, ...), a "-" as
# nothing; with OPTIONAL, a CPU without a row sets nothing.
function(pidrecord_architecture cpu)
  set(table ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/architectures)
  file(STRINGS ${table} header REGEX "^# cpu ")
  file(STRINGS ${table} rows REGEX "^${cpu} ")
  if(NOT rows AND ARGV1 STREQUAL "OPTIONAL")
    return()
  elseif(NOT rows)
    message(FATAL_ERROR "no architecture ${cpu} in cmake/architectures")
  endif()
  string(REGEX REPLACE "^# " "" header "${header}")
  string(REGEX REPLACE " +" ";" header "${header}")
  string(REGEX REPLACE " +" ";" row "${rows}")
  foreach(column value IN ZIP_LISTS header row)
    if(value STREQUAL "-")
      set(value "")
    endif()
    string(TOUPPER ${column} column)
    set(PIDRECORD_${column} "${value}" PARENT_SCOPE)
  endforeach()
endfunction()
