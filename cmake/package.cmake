# Run by CPack's External generator once the install tree is staged; the
# packing itself is in package.sh, beside this file.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env
          SOURCE_DATE_EPOCH=${CPACK_PIDRECORD_EPOCH}
          "MAINTAINER=${CPACK_PIDRECORD_MAINTAINER}"
          "DESCRIPTION=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
          "MINISIGN_KEY=${CPACK_PIDRECORD_MINISIGN_KEY}"
          "SIGNING_CERT=${CPACK_PIDRECORD_SIGNING_CERT}"
          "SIGNING_KEY=${CPACK_PIDRECORD_SIGNING_KEY}"
          "TIMESTAMP_URL=${CPACK_PIDRECORD_TIMESTAMP_URL}"
          bash ${CPACK_PIDRECORD_SOURCE_DIR}/cmake/package.sh
          ${CPACK_PIDRECORD_KIND}
          ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_PIDRECORD_DIST_DIR}
          ${CPACK_PACKAGE_VERSION}
          ${CPACK_PIDRECORD_ARCH} ${CPACK_PIDRECORD_SOURCE_DIR}
          ${CPACK_PIDRECORD_LIBS}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "package.sh failed")
endif()
