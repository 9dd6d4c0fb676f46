# What the release packages are made of and from: the time they carry, the
# Maintainer, the libraries whose notices they quote. cmake/package.cmake and
# package.sh pack them.

# The release archives carry the time of the last commit, so that a rebuild
# of one commit gives the same bytes anywhere; a tree without its git history
# takes the time that signs the newest changelog entry.
find_package(Git QUIET)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
elseif(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  file(STRINGS ${CMAKE_SOURCE_DIR}/CHANGELOG signed REGEX "^ -- "
       LIMIT_COUNT 1)
  string(REGEX MATCH "([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):"
         signed "${signed}")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months ${CMAKE_MATCH_2} m)
  # Days since 1970 of a date in the Gregorian calendar, with March as the
  # first month so that a leap day ends the year.
  math(EXPR y "${CMAKE_MATCH_3} - (11 - ${m}) / 10")
  math(EXPR doy "(153 * ((${m} + 10) % 12) + 2) / 5 + ${CMAKE_MATCH_1} - 1")
  math(EXPR days "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${doy} \
- 719468")
  math(EXPR epoch "${days} * 86400 + ${CMAKE_MATCH_4} * 3600 \
+ ${CMAKE_MATCH_5} * 60")
endif()
if(WIN32)
  # The linker stamps the executable with this time, not the current one.
  set_target_properties(pidrecord PROPERTIES CXX_LINKER_LAUNCHER
    "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${epoch}")
endif()

set(PIDRECORD_MAINTAINER "pidrecord developers <pidrecord@localhost>"
    CACHE STRING "Maintainer field of the DEB: name <address>")
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
  list(APPEND libs libmingwex.a libwinpthread.a libssp.a)
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
