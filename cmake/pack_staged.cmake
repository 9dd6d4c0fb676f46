# CPack's pre-build script, once the tree is staged: made as each format wants.
set(tree "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(share ${tree}/usr/share)
if(EXISTS ${tree}/pidrecord.exe)
  sign(${tree}/pidrecord.exe)
elseif(CPACK_GENERATOR STREQUAL "DEB")
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
elseif(CPACK_GENERATOR STREQUAL "RPM")
  # Compressed as rpmlint expects, and the notices as the license file.
  execute_process(COMMAND bzip2 -9 ${share}/man/man1/pidrecord.1
                  COMMAND_ERROR_IS_FATAL ANY)
  file(MAKE_DIRECTORY ${share}/licenses/pidrecord)
  file(RENAME ${share}/doc/pidrecord/copyright
       ${share}/licenses/pidrecord/copyright)
endif()
# Directories 0755, files 0644, the program 0755, each time the epoch,
# whatever the packer's umask and clock: rpmbuild takes the tree's.
execute_process(COMMAND chmod -R u=rwX,go=rX ${tree} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND find ${tree} -exec touch -h
                        -d @$ENV{SOURCE_DATE_EPOCH} {} +
                COMMAND_ERROR_IS_FATAL ANY)
