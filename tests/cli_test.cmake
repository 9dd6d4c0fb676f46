# Runs the built executable as a caller would and checks status, standard
# output, standard error and the record's bytes.
# Set by the caller: PIDRECORD, ERRORS (prints "NAME<tab>text" for each
# error, with this C library's text), EMULATOR (may be empty), WORK, WINDOWS.
# Each run works in a directory of its own under WORK, so that runs at once
# do not meet.
string(TIMESTAMP now "%s%f")
string(RANDOM LENGTH 8 salt)
set(WORK "${WORK}/${now}-${salt}")

if(WINDOWS)
  set(eol "\r\n") # the console runtime's text streams
else()
  set(eol "\n")
endif()

function(expect_run status err)
  # Files, not variables: execute_process would drop carriage returns.
  execute_process(COMMAND ${EMULATOR} ${PIDRECORD} ${ARGN}
                  WORKING_DIRECTORY "${WORK}"
                  RESULT_VARIABLE got_status
                  OUTPUT_FILE "${WORK}/stdout"
                  ERROR_FILE "${WORK}/stderr")
  # Compared as hex: a plain file(READ) drops carriage returns too.
  file(READ "${WORK}/stdout" got_out HEX)
  file(READ "${WORK}/stderr" got_err HEX)
  string(HEX "${err}" err)
  if(NOT got_status STREQUAL status OR NOT got_err STREQUAL err
     OR NOT got_out STREQUAL "")
    message(SEND_ERROR "pidrecord ${ARGN}: status '${got_status}', "
            "stderr '${got_err}', stdout '${got_out}'; "
            "expected status '${status}', stderr '${err}', no stdout")
  endif()
endfunction()

function(expect_record file hex)
  if(NOT EXISTS "${file}")
    message(SEND_ERROR "${file} is missing")
    return()
  endif()
  file(READ "${file}" got HEX)
  if(NOT got STREQUAL hex)
    message(SEND_ERROR "${file} holds ${got}, expected ${hex}")
  endif()
endfunction()

if(WINDOWS)
  set(record_hex "2d310d0a")
else()
  set(record_hex "2d310a")
endif()

file(MAKE_DIRECTORY "${WORK}/d")
file(WRITE "${WORK}/empty/pid" "")

expect_run(1 "usage: pidrecord checkpoint|restore DIRECTORY${eol}")
expect_run(1 "usage: pidrecord checkpoint|restore DIRECTORY${eol}" checkpoint)
expect_run(1 "unknown action: Restore${eol}" Restore "${WORK}/d")
expect_run(1 "cannot read pid${eol}" restore "${WORK}/empty")
expect_run(0 "" checkpoint "${WORK}/d" extra)
expect_record("${WORK}/d/pid" "${record_hex}")
expect_run(0 "" restore "${WORK}/d")
expect_record("${WORK}/d/pid" "${record_hex}")

if(NOT WINDOWS)
  # A name that looks like a drive is an ordinary directory here.
  file(MAKE_DIRECTORY "${WORK}/a:")
  expect_run(0 "" checkpoint a:)
  expect_record("${WORK}/a:/pid" "${record_hex}")
endif()

if(WINDOWS)
  # Wine turns our UTF-8 arguments into the Windows command line by the
  # locale's character set.
  set(ENV{LC_ALL} C.UTF-8)

  # Names outside any ANSI code page reach the file system unchanged.
  file(MAKE_DIRECTORY "${WORK}/ü日本")
  expect_run(0 "" checkpoint "${WORK}/ü日本")
  expect_record("${WORK}/ü日本/pid" "${record_hex}")
  expect_run(0 "" restore "${WORK}/ü日本")

  # A bare drive names its current directory, not its root. The drive is
  # this run's own: Y: in the test prefix, rooted at WORK/y, and the run's
  # current directory is on it.
  file(MAKE_DIRECTORY "${WORK}/y/cwd")
  file(REMOVE "$ENV{WINEPREFIX}/dosdevices/y:")
  file(CREATE_LINK "${WORK}/y" "$ENV{WINEPREFIX}/dosdevices/y:" SYMBOLIC)
  set(saved "${WORK}")
  set(WORK "${WORK}/y/cwd")
  expect_run(0 "" checkpoint Y:)
  # An empty directory is refused; taken, it would name the drive's root.
  foreach(action checkpoint restore)
    execute_process(COMMAND ${EMULATOR} ${PIDRECORD} ${action} ""
                    WORKING_DIRECTORY "${WORK}"
                    RESULT_VARIABLE got_status ERROR_VARIABLE got_err)
    if(NOT got_status STREQUAL 1 OR NOT got_err MATCHES "^usage: ")
      message(SEND_ERROR "${action} '': status '${got_status}', "
              "stderr '${got_err}'; expected status 1 and the usage line")
    endif()
  endforeach()
  set(WORK "${saved}")
  expect_record("${WORK}/y/cwd/pid" "${record_hex}")
  if(EXISTS "${WORK}/y/pid")
    message(SEND_ERROR "a run on Y: wrote the drive's root")
  endif()
  file(REMOVE "$ENV{WINEPREFIX}/dosdevices/y:")

  # A full device: the write fails, and is reported. Wine follows the
  # host's symbolic link.
  execute_process(COMMAND ${EMULATOR} ${ERRORS} OUTPUT_VARIABLE texts)
  string(REGEX MATCH "ENOSPC\t([^\r\n]*)" found "${texts}")
  file(MAKE_DIRECTORY "${WORK}/full")
  file(CREATE_LINK /dev/full "${WORK}/full/pid" SYMBOLIC)
  expect_run(1 "fclose pidfile: ${CMAKE_MATCH_1}${eol}" checkpoint
             "${WORK}/full")

  # A fullwidth solidus is not mapped onto "/": the record never lands in a/b.
  file(MAKE_DIRECTORY "${WORK}/a/b")
  execute_process(COMMAND ${EMULATOR} ${PIDRECORD} checkpoint "${WORK}/a／b"
                  RESULT_VARIABLE got_status ERROR_VARIABLE got_err)
  if(NOT got_status STREQUAL 1 OR NOT got_err MATCHES "^fopen pidfile: "
     OR EXISTS "${WORK}/a/b/pid")
    message(SEND_ERROR "checkpoint a／b: status '${got_status}', "
            "stderr '${got_err}'; expected status 1 and an fopen report, "
            "and no a/b/pid")
  endif()
endif()

file(REMOVE_RECURSE "${WORK}")
