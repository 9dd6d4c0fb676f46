# CPack's project config, read at each generator's start: what hooks share.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_PIDRECORD_EPOCH})
# The ZIP's and the MSI's times are local times: the epoch's in UTC.
set(ENV{TZ} UTC)

# sign(FILE): the exe or the MSI signed with the owner's certificate, if any,
# at the packing time, so that an RSA key without a timestamp server gives
# the same bytes; setsid keeps a password prompt off the terminal. A rebuild
# of a published release attaches its signature instead, trusting its own
# certificates, as only the digest is checked; unfit, it leaves the file
# unsigned, and so different.
function(sign file)
  string(REGEX REPLACE ".*\\." "" kind ${file})
  string(TOUPPER ${kind} kind)
  set(signature ${CPACK_PIDRECORD_${kind}_SIGNATURE})
  set(certs ${CPACK_TOPLEVEL_DIRECTORY}/signature-certs.pem)
  if(signature)
    execute_process(COMMAND openssl pkcs7 -inform DER -in ${signature}
                            -print_certs -out ${certs} COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND osslsigncode attach-signature -sigin ${signature}
                            -CAfile ${certs} -in ${file} -out ${file}.signed
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(NOT failed)
      file(RENAME ${file}.signed ${file})
    endif()
    file(REMOVE ${file}.signed)
    return()
  elseif(NOT CPACK_PIDRECORD_SIGNING_CERT)
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
