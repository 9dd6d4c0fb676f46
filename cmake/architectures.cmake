# pidrecord_architecture(CPU [OPTIONAL]): sets PIDRECORD_<COLUMN> (DEBARCH,
# TRIPLET, ...) to each column of CPU's row in the table beside this file, a
# "-" as nothing; with OPTIONAL, a CPU without a row sets nothing.
function(pidrecord_architecture cpu)
  execute_process(COMMAND bash -c ". \"$0\" && architectures -row \"$1\""
                          ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/architectures.sh
                          ${cpu}
                  OUTPUT_VARIABLE fields COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]+" fields "${fields}")
  if(NOT fields AND NOT ARGV1 STREQUAL "OPTIONAL")
    message(FATAL_ERROR "no architecture ${cpu} in cmake/architectures")
  endif()
  foreach(field IN LISTS fields)
    string(REGEX MATCH "^([^ ]+) (.*)$" _ "${field}")
    string(TOUPPER ${CMAKE_MATCH_1} column)
    string(REGEX REPLACE "^-$" "" value "${CMAKE_MATCH_2}")
    set(PIDRECORD_${column} "${value}" PARENT_SCOPE)
  endforeach()
endfunction()
