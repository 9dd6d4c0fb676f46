# Included by pack_made.cmake once the ZIP is made. Reads tree, the ZIP's
# files, and CPACK_PIDRECORD_WXS, _MSI and _UPGRADE_CODE; sets msi, the MSI
# that wixl makes of tree. wixl writes the build time, a random PackageCode
# and a random PATH row key that stays in the string pool once replaced: so
# msibuild makes the MSI anew from wixl's tables and streams, with the
# epoch's time, variable names as keys, a PackageCode derived from the bytes.
set(msi ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PIDRECORD_MSI})
set(work ${CPACK_TOPLEVEL_DIRECTORY}/msi)
file(REMOVE_RECURSE ${work} ${msi})
file(MAKE_DIRECTORY ${work})
execute_process(COMMAND wixl -a x64 -o ${work}/wixl.msi ${CPACK_PIDRECORD_WXS}
                WORKING_DIRECTORY ${tree} COMMAND_ERROR_IS_FATAL ANY)
foreach(kind tables streams)
  execute_process(COMMAND msiinfo ${kind} wixl.msi OUTPUT_VARIABLE ${kind}
                  WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]+" ${kind} "${${kind}}")
endforeach()
set(idts)
foreach(table IN LISTS tables)
  execute_process(COMMAND msiinfo export wixl.msi ${table}
                  OUTPUT_FILE ${table}.idt WORKING_DIRECTORY ${work}
                  COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND idts ${table}.idt)
endforeach()
# The summary is a stream of its own, written from its table.
set(added)
list(FILTER streams EXCLUDE REGEX "SummaryInformation$")
foreach(stream IN LISTS streams)
  execute_process(COMMAND msiinfo extract wixl.msi ${stream}
                  OUTPUT_FILE ${stream} WORKING_DIRECTORY ${work}
                  COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND added -a ${stream} ${stream})
endforeach()
file(READ ${work}/Environment.idt table)
string(REGEX REPLACE "\n[0-9a-fA-F-]+\t([-=+!*]*)([^\t]+)" "\n\\2\t\\1\\2"
       table "${table}")
file(WRITE ${work}/Environment.idt "${table}")
file(READ ${work}/_SummaryInformation.idt summary)
string(TIMESTAMP time "%Y/%m/%d %H:%M:%S" UTC)
string(REGEX REPLACE "\n(1[23])\t[^\r\n]*" "\n\\1\t${time}" summary
       "${summary}")
# The PackageCode: a nil one first, then one derived from the bytes so made.
set(code 00000000-0000-0000-0000-000000000000)
foreach(pass nil derived)
  if(pass STREQUAL derived)
    file(SHA256 ${msi} sha)
    string(UUID code NAMESPACE ${CPACK_PIDRECORD_UPGRADE_CODE} NAME ${sha}
           TYPE SHA1 UPPER)
    set(idts _SummaryInformation.idt)
    set(added)
  endif()
  string(REGEX REPLACE "\n9\t[^\r\n]*" "\n9\t{${code}}" table "${summary}")
  file(WRITE ${work}/_SummaryInformation.idt "${table}")
  execute_process(COMMAND msibuild ${msi} -i ${idts} ${added}
                  WORKING_DIRECTORY ${work} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
