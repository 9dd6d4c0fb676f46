# Run by cpack at each generator's start, once the install tree is staged,
# and once the package is made: what CPack's generators leave undone.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_PIDRECORD_EPOCH})
# The ZIP's and the MSI's times are local times: the epoch's in UTC.
set(ENV{TZ} UTC)
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(share ${tree}/usr/share)

# The exe and the MSI, signed at the packing time with the owner's
# certificate, if any, so that an RSA key without a timestamp server gives
# the same bytes. Should a key with a password come, despite configure, it
# fails rather than ask on the terminal, which setsid takes.
function(sign file)
  if(NOT CPACK_PIDRECORD_SIGNING_CERT)
    return()
  elseif(CPACK_PIDRECORD_TIMESTAMP_URL)
    set(url -t ${CPACK_PIDRECORD_TIMESTAMP_URL})
  endif()
  execute_process(COMMAND setsid -w osslsigncode sign -h sha256 ${url}
                          -certs ${CPACK_PIDRECORD_SIGNING_CERT}
                          -key ${CPACK_PIDRECORD_SIGNING_KEY}
                          -time $ENV{SOURCE_DATE_EPOCH}
                          -in ${file} -out ${file}.signed
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(RENAME ${file}.signed ${file})
endfunction()

if(NOT tree)
  return()
elseif(NOT CPACK_PACKAGE_FILES AND EXISTS ${tree}/pidrecord.exe)
  sign(${tree}/pidrecord.exe)
elseif(NOT CPACK_PACKAGE_FILES AND CPACK_GENERATOR STREQUAL "DEB")
  # Compressed as Debian's are, and lintian's overrides.
  execute_process(COMMAND gzip -9n ${share}/man/man1/pidrecord.1
                          ${share}/doc/pidrecord/changelog
                  COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE ${share}/lintian/overrides/pidrecord "\
# A static PIE has the ELF type of a shared object, and no dependency, which
# lintian takes for a library that lacks them.
pidrecord: shared-library-lacks-prerequisites [usr/bin/pidrecord]
# The notices quote Debian's copyright files of what is linked in word for
# word, the FSF's former address in the GCC runtime's among them.
pidrecord: old-fsf-address-in-copyright-file
")
elseif(NOT CPACK_PACKAGE_FILES AND CPACK_GENERATOR STREQUAL "RPM")
  # Compressed as rpmlint expects, and the notices as the license file.
  execute_process(COMMAND bzip2 -9 ${share}/man/man1/pidrecord.1
                  COMMAND_ERROR_IS_FATAL ANY)
  file(MAKE_DIRECTORY ${share}/licenses/pidrecord)
  file(RENAME ${share}/doc/pidrecord/copyright
       ${share}/licenses/pidrecord/copyright)
endif()
if(NOT CPACK_PACKAGE_FILES)
  # Directories 0755, files 0644, the program 0755, each time the epoch,
  # whatever the packer's umask and clock: rpmbuild takes the tree's.
  execute_process(COMMAND chmod -R u=rwX,go=rX ${tree}
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND find ${tree} -exec touch -h
                          -d @$ENV{SOURCE_DATE_EPOCH} {} +
                  COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

# CPack's archive generators put the members in the order that the file
# system lists them, and the packer's ids into them: tar and zip are told
# the order and the ids instead. The DEB generator gives its ar members the
# packer's umask: each member's header gets mode 0644.
set(package ${CPACK_PACKAGE_FILES})
set(packages ${package})
if(package MATCHES "\\.tar\\.gz$")
  execute_process(COMMAND tar --sort=name --format=gnu --owner=0 --group=0
                          --numeric-owner --mtime=@$ENV{SOURCE_DATE_EPOCH}
                          -C ${tree} -cf - bin share
                  COMMAND gzip -9n OUTPUT_FILE ${package}
                  COMMAND_ERROR_IS_FATAL ANY)
elseif(package MATCHES "\\.zip$")
  file(GLOB files RELATIVE ${tree} ${tree}/*)
  list(SORT files)
  file(REMOVE ${package})
  execute_process(COMMAND zip -X -D -9 -q ${package} ${files}
                  WORKING_DIRECTORY ${tree} COMMAND_ERROR_IS_FATAL ANY)
  # CPack's WIX generator runs the WiX toolset, which is Windows's: wixl
  # makes the MSI of the same files here, where configure found one that can.
  if(CPACK_PIDRECORD_MSI)
    include(${CPACK_PIDRECORD_SOURCE_DIR}/cmake/msi.cmake)
    sign(${msi})
    list(APPEND packages ${msi})
  endif()
elseif(package MATCHES "\\.deb$")
  file(WRITE ${CPACK_TOPLEVEL_DIRECTORY}/mode "100644  ")
  file(SIZE ${package} end)
  set(at 8)
  while(at LESS end)
    math(EXPR field "${at} + 40")
    execute_process(COMMAND dd of=${package} bs=1 seek=${field} conv=notrunc
                    INPUT_FILE ${CPACK_TOPLEVEL_DIRECTORY}/mode
                    ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    math(EXPR field "${at} + 48")
    file(READ ${package} size OFFSET ${field} LIMIT 10)
    math(EXPR at "${at} + 60 + ${size} + ${size} % 2")
  endwhile()
endif()
# Copied now, as cpack copies it only after this, for the sums to see it.
set(dist ${CPACK_OUTPUT_FILE_PREFIX})
string(REPLACE " " ";" components "${CPACK_PIDRECORD_COMPONENTS}")
foreach(package IN LISTS packages)
  file(COPY ${package} DESTINATION ${dist})
  get_filename_component(name ${package} NAME)
  execute_process(COMMAND bash cmake/sbom.sh ${dist}/${name}
                          ${CPACK_PACKAGE_VERSION} $ENV{SOURCE_DATE_EPOCH}
                          ${components}
                  OUTPUT_FILE ${dist}/${name}.spdx.json
                  WORKING_DIRECTORY ${CPACK_PIDRECORD_SOURCE_DIR}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env
                        MINISIGN_KEY=${CPACK_PIDRECORD_MINISIGN_KEY}
                        bash -c ". cmake/artifacts.sh && write_sums \"$@\"" _
                        ${dist} ${CPACK_PACKAGE_VERSION}
                WORKING_DIRECTORY ${CPACK_PIDRECORD_SOURCE_DIR}
                COMMAND_ERROR_IS_FATAL ANY)
