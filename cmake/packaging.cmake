# The release packages, by CPack's own generators: TGZ, DEB and, where RPM
# distributions build the row, RPM on Linux; ZIP on Windows. The pack_*.cmake
# hooks make them the same bytes whoever packs them, wherever and whenever.

# The time and Maintainer are the newest CHANGELOG entry's, as Debian's are;
# a SOURCE_DATE_EPOCH set by the caller wins. Every entry is read, and a
# warning is fatal: dpkg only warns of what the RPM's packing stops at.
find_program(PIDRECORD_PARSECHANGELOG dpkg-parsechangelog)
if(NOT PIDRECORD_PARSECHANGELOG)
  message(FATAL_ERROR "dpkg-parsechangelog not found: packing reads the "
          "date and signer from CHANGELOG with it; install dpkg-dev")
endif()
execute_process(COMMAND ${PIDRECORD_PARSECHANGELOG} --all --format rfc822
                        -l ${CMAKE_SOURCE_DIR}/CHANGELOG
                OUTPUT_VARIABLE entries ERROR_VARIABLE warnings
                COMMAND_ERROR_IS_FATAL ANY)
if(warnings OR NOT entries MATCHES "\nTimestamp: ([0-9]+)\n")
  message(FATAL_ERROR "CHANGELOG: mend each entry that dpkg-parsechangelog "
          "names, whose trailer must be \" -- Name <address>  Day, DD Mon "
          "YYYY HH:MM:SS +ZZZZ\": ${warnings}")
endif()
set(Timestamp ${CMAKE_MATCH_1})
# A signer or Maintainer goes into control files, rpmbuild macros, changelogs:
# nothing in the name may end a field, a line or a definition there, or stand
# for a regex group. Each good signer removed, the first left names its entry.
string(ASCII 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24
       25 26 27 28 29 30 31 127 control)
set(bad "<>;\\${control}")
set(signer "[^${bad}]+ <[^ ${bad}]+@[^ ${bad}]+>")
set(mend "make it \"Name <address>\", with no ;, backslash, control \
character, < or > in the name")
string(REGEX REPLACE "\nMaintainer: ${signer}\n" "\n" rest "${entries}")
if(rest MATCHES "Version: ([^\n]*)\n([^MV\n][^\n]*\n)*Maintainer: ([^\n]*)")
  message(FATAL_ERROR "CHANGELOG: the entry ${CMAKE_MATCH_1} is signed "
          "\"${CMAKE_MATCH_3}\": ${mend}")
endif()
string(REGEX MATCH "\nMaintainer: ([^\n]*)" _ "${entries}")
set(Maintainer "${CMAKE_MATCH_1}")
set(CPACK_PIDRECORD_EPOCH ${Timestamp})
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(CPACK_PIDRECORD_EPOCH $ENV{SOURCE_DATE_EPOCH})
endif()
if(WIN32)
  # The linker stamps the executable with this time, not the current one.
  set_target_properties(pidrecord PROPERTIES CXX_LINKER_LAUNCHER
    "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${CPACK_PIDRECORD_EPOCH}")
endif()

set(PIDRECORD_MAINTAINER "${Maintainer}" CACHE STRING "The packages' \
Maintainer: by default whoever signed the newest CHANGELOG entry")
if(NOT PIDRECORD_MAINTAINER MATCHES "^${signer}$")
  message(FATAL_ERROR "PIDRECORD_MAINTAINER is \"${PIDRECORD_MAINTAINER}\": "
          "${mend}")
endif()
set(PIDRECORD_DIST_DIR ${CMAKE_BINARY_DIR} CACHE PATH
    "Where the packages and their SHA256SUMS go")
# The owner's keys, checked by keys.sh; unset, nothing is signed.
set(PIDRECORD_MINISIGN_KEY "" CACHE FILEPATH
    "minisign secret key without a password: signs SHA256SUMS")
set(PIDRECORD_SIGNING_CERT "" CACHE FILEPATH
    "PEM certificate chain: Authenticode signature of the Windows program")
set(PIDRECORD_SIGNING_KEY "" CACHE FILEPATH
    "PEM private key of PIDRECORD_SIGNING_CERT, without a password")
set(PIDRECORD_TIMESTAMP_URL "" CACHE STRING
    "Authenticode timestamp server; none if empty")
set(PIDRECORD_EXE_SIGNATURE "" CACHE FILEPATH "A published release's \
Authenticode signature of the program, attached instead (release.sh --verify)")
set(PIDRECORD_MSI_SIGNATURE "" CACHE FILEPATH "A published release's \
Authenticode signature of the MSI, attached instead (release.sh --verify)")
execute_process(COMMAND bash cmake/keys.sh "${PIDRECORD_MINISIGN_KEY}"
                        "${PIDRECORD_SIGNING_CERT}" "${PIDRECORD_SIGNING_KEY}"
                WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                RESULT_VARIABLE status ERROR_VARIABLE why)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${why}")
endif()
foreach(setting MINISIGN_KEY SIGNING_CERT SIGNING_KEY TIMESTAMP_URL
        EXE_SIGNATURE MSI_SIGNATURE)
  set(CPACK_PIDRECORD_${setting} ${PIDRECORD_${setting}})
endforeach()
set(CPACK_PIDRECORD_SOURCE_DIR ${CMAKE_SOURCE_DIR})

# The Debian packages linked in, "name version arch", for the SBOMs and the
# notices; a toolchain that links a C library of its own names it.
set(libs libgcc.a)
if(WIN32)
  list(APPEND libs libmingwex.a libwinpthread.a)
elseif(NOT PIDRECORD_LIBC)
  list(APPEND libs libc.a)
endif()
set(names)
set(notices)
foreach(lib IN LISTS libs PIDRECORD_LIBC)
  if(NOT IS_ABSOLUTE "${lib}")
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${lib}
                    OUTPUT_VARIABLE lib OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  cmake_path(NORMAL_PATH lib)
  # "name: path", or "name:arch: path" where several are installed
  execute_process(COMMAND dpkg -S ${lib} OUTPUT_VARIABLE owner
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "[,:]? .*" "" owner "${owner}")
  string(REGEX REPLACE ":.*" "" name "${owner}")
  if(NOT name IN_LIST names)
    list(APPEND names ${name})
    execute_process(COMMAND dpkg-query -W -f=\${Version}\ \${Architecture}
                            ${owner} OUTPUT_VARIABLE it)
    list(APPEND CPACK_PIDRECORD_LINKED "${name} ${it}")
    set(copyright /usr/share/doc/${name}/copyright)
    execute_process(COMMAND awk "/^[ \t]*$/ { $0 = \".\" } { print \" \" $0 }"
                            ${copyright}
                    OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCH "^[^ ]+" version "${it}")
    string(APPEND notices "\nLicense: ${name}-notices\n"
           " ${copyright}, version ${version}:\n .\n${text}")
  endif()
endforeach()
string(STRIP "${notices}" notices)
list(TRANSFORM names APPEND -notices OUTPUT_VARIABLE licenses)
list(JOIN licenses " and " licenses)
list(JOIN names " " names)
set(doc ${CMAKE_BINARY_DIR}/doc)
if(WIN32)
  set(program pidrecord.exe)
  configure_file(src/copyright.in ${doc}/COPYRIGHT.txt @ONLY)
  install(FILES ${doc}/COPYRIGHT.txt DESTINATION .)
else()
  set(program *bin/pidrecord)
  configure_file(src/copyright.in ${doc}/copyright @ONLY)
  # The changelog's entries are signed by whoever the packager names.
  file(READ CHANGELOG changelog)
  string(REGEX REPLACE "\n -- [^<]*<[^>]*>" "\n -- ${PIDRECORD_MAINTAINER}"
         changelog "${changelog}")
  file(WRITE ${doc}/changelog "${changelog}")
  install(FILES ${doc}/copyright ${doc}/changelog
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_VENDOR "${PIDRECORD_VENDOR}")
set(CPACK_PACKAGE_CONTACT "${PIDRECORD_MAINTAINER}")
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PIDRECORD_DIST_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/pack_start.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/pack_staged.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/pack_made.cmake)
# The names are artifacts.sh's.
function(pidrecord_name variable kind arch)
  execute_process(COMMAND bash -c ". cmake/artifacts.sh && artifact $*" _
                          ${kind} ${PROJECT_VERSION} ${arch}
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" name ${name})
  set(${variable} ${name} PARENT_SCOPE)
endfunction()
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  pidrecord_name(CPACK_PACKAGE_FILE_NAME zip win64)
  # The MSI, which pack_made.cmake makes beside the ZIP from the same files,
  # needs a wixl that writes PATH: Debian 12's 0.101 stops at it.
  find_program(PIDRECORD_WIXL wixl)
  set(have "no wixl")
  if(PIDRECORD_WIXL)
    execute_process(COMMAND ${PIDRECORD_WIXL} --version
                    OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(have "wixl ${version}")
  endif()
  if(NOT PIDRECORD_WIXL OR version VERSION_LESS 0.106)
    message(STATUS "pidrecord: leaves out the MSI: it takes wixl 0.106 or "
            "later (Debian 13) to write PATH, and this machine has ${have}")
  else()
    find_program(PIDRECORD_MSIBUILD msibuild REQUIRED)
    # Windows Installer knows every version of pidrecord by this code: it
    # never changes. Each version's ProductCode is derived from it.
    set(PIDRECORD_UPGRADE_CODE 28AD28D4-2068-4FA0-9DF8-52DE204DB7AE)
    string(UUID PIDRECORD_PRODUCT_CODE NAMESPACE ${PIDRECORD_UPGRADE_CODE}
           NAME ${PROJECT_VERSION} TYPE SHA1 UPPER)
    configure_file(src/pidrecord.wxs.in pidrecord.wxs @ONLY)
    set(CPACK_PIDRECORD_WXS ${CMAKE_BINARY_DIR}/pidrecord.wxs)
    set(CPACK_PIDRECORD_UPGRADE_CODE ${PIDRECORD_UPGRADE_CODE})
    pidrecord_name(CPACK_PIDRECORD_MSI msi win64)
  endif()
  include(CPack)
  return()
endif()
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_DESCRIPTION "${PIDRECORD_ABOUT}")
pidrecord_name(CPACK_PACKAGE_FILE_NAME tgz ${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PIDRECORD_DEBARCH})
pidrecord_name(CPACK_DEBIAN_FILE_NAME deb ${PIDRECORD_DEBARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
if(NOT PIDRECORD_RPMARCH)
  include(CPack)
  return()
endif()

# The program is static: no dependencies, no build-id links, nothing for
# rpmbuild to strip or compress.
list(APPEND CPACK_GENERATOR RPM)
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${PIDRECORD_RPMARCH})
pidrecord_name(CPACK_RPM_FILE_NAME rpm ${PIDRECORD_RPMARCH})
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_SUMMARY "${PIDRECORD_SUMMARY}")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_LICENSE LicenseRef-none-chosen)
set(CPACK_RPM_PACKAGE_GROUP Applications/System)
set(CPACK_RPM_PACKAGE_AUTOREQPROV OFF)
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man
    /usr/share/man/man1 /usr/share/licenses)
set(CPACK_RPM_USER_FILELIST "%doc /usr/share/doc/pidrecord/README.md"
    "%doc /usr/share/doc/pidrecord/changelog"
    "%license /usr/share/licenses/pidrecord/copyright")
# rpmbuild expands macros everywhere: each % stands doubled for itself.
string(REPLACE "%" "%%" packager "${PIDRECORD_MAINTAINER}")
string(REPLACE ";" "\n" CPACK_RPM_SPEC_MORE_DEFINE "\
%define _buildhost reproducible;%define use_source_date_epoch_as_buildtime 1;\
%define _build_id_links none;%define _binary_payload w9.gzdio;\
%define debug_package %{nil};%define __os_install_post %{nil};\
%define packager ${packager}")
# Every CHANGELOG entry, signed by the packager as in the DEB.
execute_process(COMMAND ${CMAKE_COMMAND} -E env "m=${packager}" awk "
  /^[^ ]/ { v = $2; gsub(/[()]/, \"\", v); n = 0; next }
  /^  \\* / { sub(/^  \\* /, \"- \"); body[++n] = $0; next }
  /^    / { sub(/^    /, \"  \"); body[++n] = $0; next }
  /^ -- / { split(substr($0, index($0, \">\") + 3), d, /[ ,]+/)
    printf \"* %s %s %s %s %s - %s-1\\n\", d[1], d[3], d[2], d[4],
      ENVIRON[\"m\"], v
    for (i = 1; i <= n; i++) { gsub(/%/, \"%%\", body[i]); print body[i] }
    print \"\" }" CHANGELOG WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  OUTPUT_FILE ${doc}/rpm-changelog COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_RPM_CHANGELOG_FILE ${doc}/rpm-changelog)
include(CPack)
