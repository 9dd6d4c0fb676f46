# CPack's post-build script, run once the package is made: the package
# remade where the generator leaves the packer's order, ids or umask in it,
# the MSI beside the ZIP, and the SBOMs and SHA256SUMS.
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")

# CPack's archive generators take the members' order from the file system
# and the ids from the packer: tar and zip are told them instead. The DEB
# generator gives its ar members the packer's umask: each gets mode 0644.
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
  # An ar archive: its 8-byte magic, then each member's 60-byte header,
  # whose mode is at 40 and the data's size in decimal at 48, and its data,
  # padded to an even length.
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
string(REPLACE " " ";" linked "${CPACK_PIDRECORD_LINKED}")
foreach(package IN LISTS packages)
  file(COPY ${package} DESTINATION ${dist})
  get_filename_component(name ${package} NAME)
  execute_process(COMMAND bash cmake/sbom.sh ${dist}/${name}
                          ${CPACK_PACKAGE_VERSION} $ENV{SOURCE_DATE_EPOCH}
                          ${linked}
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
