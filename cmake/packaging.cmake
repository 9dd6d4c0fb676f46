# What the release packages are made of and from: the version and the time
# they carry, the Maintainer, the libraries whose notices they quote, the keys
# that sign them. cmake/package.cmake and package.sh pack them.

# The release packages carry the time that signs the newest changelog entry,
# as Debian's do, so that a rebuild of one commit gives the same bytes
# anywhere, from a git checkout or an export; a SOURCE_DATE_EPOCH set by the
# caller wins.
find_program(PIDRECORD_PARSECHANGELOG dpkg-parsechangelog)
if(NOT PIDRECORD_PARSECHANGELOG)
  message(FATAL_ERROR "dpkg-parsechangelog not found: packing reads the "
          "version and date from CHANGELOG with it; install dpkg-dev")
endif()
# A new entry changes what is packed, so it configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/CHANGELOG)
foreach(field Version Timestamp Maintainer)
  execute_process(
    COMMAND ${PIDRECORD_PARSECHANGELOG} -l ${CMAKE_SOURCE_DIR}/CHANGELOG
            -S ${field}
    OUTPUT_VARIABLE ${field} OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_VARIABLE warnings COMMAND_ERROR_IS_FATAL ANY)
endforeach()
# dpkg-parsechangelog only warns of a missing trailer or a bad date.
if(NOT Timestamp MATCHES "^[0-9]+$")
  message(FATAL_ERROR "CHANGELOG: the newest entry has no trailer line with "
          "a valid date (\" -- Name <address>  Day, DD Mon YYYY HH:MM:SS "
          "+ZZZZ\"): ${warnings}")
endif()
if(NOT Version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CMakeLists.txt says version ${PROJECT_VERSION}, "
          "the newest CHANGELOG entry ${Version}: make them agree")
endif()
set(epoch ${Timestamp})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
endif()
if(WIN32)
  # The linker stamps the executable with this time, not the current one.
  set_target_properties(pidrecord PROPERTIES CXX_LINKER_LAUNCHER
    "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${epoch}")
endif()

set(PIDRECORD_MAINTAINER "${Maintainer}" CACHE STRING
    "The packages' Maintainer, name <address>: by default whoever signed the \
newest CHANGELOG entry")
# CPack's own archives take owners and modes from the packer's account and
# umask; the packing script sets them.
set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/package.cmake)
set(PIDRECORD_DIST_DIR ${CMAKE_BINARY_DIR} CACHE PATH
    "Where the packages and their SHA256SUMS go")
set(CPACK_PIDRECORD_DIST_DIR ${PIDRECORD_DIST_DIR})
set(CPACK_PIDRECORD_SOURCE_DIR ${CMAKE_SOURCE_DIR})
set(CPACK_PIDRECORD_EPOCH ${epoch})
set(CPACK_PIDRECORD_MAINTAINER ${PIDRECORD_MAINTAINER})
# The owner's keys; unset, nothing is signed. Checked by keys.sh, as
# release.sh checks them.
set(PIDRECORD_MINISIGN_KEY "" CACHE FILEPATH
    "minisign secret key without a password: signs SHA256SUMS")
set(PIDRECORD_SIGNING_CERT "" CACHE FILEPATH
    "PEM certificate chain: Authenticode signature of the Windows program")
set(PIDRECORD_SIGNING_KEY "" CACHE FILEPATH
    "PEM private key of PIDRECORD_SIGNING_CERT, without a password")
set(PIDRECORD_TIMESTAMP_URL "" CACHE STRING
    "Authenticode timestamp server; none if empty")
execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/cmake/keys.sh
                        "${PIDRECORD_MINISIGN_KEY}" "${PIDRECORD_SIGNING_CERT}"
                        "${PIDRECORD_SIGNING_KEY}"
                RESULT_VARIABLE status ERROR_VARIABLE why)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${why}")
endif()
set(CPACK_PIDRECORD_MINISIGN_KEY ${PIDRECORD_MINISIGN_KEY})
set(CPACK_PIDRECORD_SIGNING_CERT ${PIDRECORD_SIGNING_CERT})
set(CPACK_PIDRECORD_SIGNING_KEY ${PIDRECORD_SIGNING_KEY})
set(CPACK_PIDRECORD_TIMESTAMP_URL ${PIDRECORD_TIMESTAMP_URL})
set(CPACK_PIDRECORD_ARCH ${CMAKE_SYSTEM_PROCESSOR})
if(WIN32)
  set(CPACK_PIDRECORD_KIND windows)
else()
  set(CPACK_PIDRECORD_KIND linux)
endif()
# The libraries linked into the executable, whose notices the packages carry;
# a toolchain that links another C library than the compiler's names it.
set(libs libgcc.a)
if(WIN32)
  list(APPEND libs libmingwex.a libwinpthread.a)
elseif(NOT PIDRECORD_LIBC)
  list(APPEND libs libc.a)
endif()
set(CPACK_PIDRECORD_LIBS)
foreach(lib IN LISTS libs)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${lib}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND CPACK_PIDRECORD_LIBS ${path})
endforeach()
list(APPEND CPACK_PIDRECORD_LIBS ${PIDRECORD_LIBC})
include(CPack)
