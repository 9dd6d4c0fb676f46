# Runs the built executable as a caller would and checks status, standard
# output, standard error and the record's bytes: one row a case, run in
# every build, under the build's emulator.
# Set by the caller: PIDRECORD, ERRORS (prints "NAME<tab>text" for each
# error, with this C library's text), EMULATOR (may be empty), WORK, WINDOWS.
# Each run works in a directory of its own under WORK, so that runs at once
# do not meet.
cmake_minimum_required(VERSION 3.25)
string(TIMESTAMP now "%s%f")
string(RANDOM LENGTH 8 salt)
set(WORK "${WORK}/${now}-${salt}")
file(MAKE_DIRECTORY "${WORK}")

if(WINDOWS)
  set(eol "\r\n") # the console runtime's text streams
else()
  set(eol "\n")
endif()
set(written "-1${eol}")
# This C library's texts, as ${ENOENT} and the like.
execute_process(COMMAND ${EMULATOR} ${ERRORS} OUTPUT_VARIABLE texts)
string(REGEX MATCHALL "[A-Z]+\t[^\r\n]*" texts "${texts}")
foreach(line IN LISTS texts)
  string(REGEX MATCH "^([A-Z]+)\t(.*)" _ "${line}")
  set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
string(ASCII 11 vt)
string(ASCII 12 ff)

# The line of each row() call, for its messages.
file(STRINGS "${CMAKE_CURRENT_LIST_FILE}" script)
set(row_lines)
set(line 0)
foreach(text IN LISTS script)
  math(EXPR line "${line} + 1")
  if(text MATCHES "^ *row\\(")
    list(APPEND row_lines ${line})
  endif()
endforeach()

# Bytes given in hex, as quoted text with control characters escaped.
function(shown hex out)
  string(REGEX MATCHALL ".." bytes "${hex}")
  set(text "")
  foreach(byte IN LISTS bytes)
    math(EXPR code "0x${byte}")
    if(byte STREQUAL "0a")
      string(APPEND text "\\n")
    elseif(byte STREQUAL "0d")
      string(APPEND text "\\r")
    elseif(byte STREQUAL "09")
      string(APPEND text "\\t")
    elseif(code LESS 32 OR code EQUAL 127)
      string(APPEND text "\\x${byte}")
    else()
      string(ASCII ${code} char)
      string(APPEND text "${char}")
    endif()
  endforeach()
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Files, not variables: execute_process would drop carriage returns.
# Compared as hex: a plain file(READ) drops carriage returns too. A row
# sets where (its line) and harness (how a caller starts the program).
function(expect_run status err)
  set(a "${ARGN}")
  set(into WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE got_status
           OUTPUT_FILE "${WORK}/stdout" ERROR_FILE "${WORK}/stderr")
  set(command ${harness} ${EMULATOR} ${PIDRECORD})
  list(LENGTH a n)
  if(n EQUAL 2) # quoted, so that an empty argument stays one
    list(GET a 0 a0)
    list(GET a 1 a1)
    execute_process(COMMAND ${command} "${a0}" "${a1}" ${into})
  else()
    execute_process(COMMAND ${command} ${a} ${into})
  endif()
  file(READ "${WORK}/stdout" got_out HEX)
  file(READ "${WORK}/stderr" got_err HEX)
  string(HEX "${err}" err)
  if(NOT got_status STREQUAL status OR NOT got_err STREQUAL err
     OR NOT got_out STREQUAL "")
    shown("${got_err}" got_err)
    shown("${err}" err)
    shown("${got_out}" got_out)
    list(JOIN a " " a)
    message(SEND_ERROR "${where}pidrecord ${a}:\n"
            "  status ${got_status}, expected ${status}\n"
            "  stderr ${got_err},\n  expected ${err}\n"
            "  stdout ${got_out}, expected \"\"")
  endif()
endfunction()

function(expect_record file bytes)
  if(NOT EXISTS "${file}")
    message(SEND_ERROR "${file} is missing")
    return()
  endif()
  file(READ "${file}" got HEX)
  string(HEX "${bytes}" bytes)
  if(NOT got STREQUAL bytes)
    shown("${got}" got)
    shown("${bytes}" bytes)
    message(SEND_ERROR "${where}${file} holds ${got}, expected ${bytes}")
  endif()
endfunction()

# row(STATUS STDERR BEFORE AFTER ARG...): a run in a fresh directory d, whose
# record before the run is BEFORE: absent, a directory (dir), a link to the
# always full device (full), "=" and its bytes, "readonly=" and the bytes of
# a file that no one may write; or d itself is missing. AFTER is absent,
# dir, full (the link stays), or the record's bytes ("same": BEFORE's). In
# ARG, a leading DIR stands for d, FITS and OVER for d padded with
# separators to the longest directory text that fits and to one more. A
# first ARG "fsize0:" or "unread:" has tests/cli_harness.sh start the
# program under a file-size limit of 0, or with standard error a pipe that
# nobody reads: Linux's rows alone.
set(rows 0)
function(row status err before after)
  list(GET row_lines ${rows} line)
  set(where "cli_test.cmake:${line}: ")
  math(EXPR rows "${rows} + 1")
  set(rows ${rows} PARENT_SCOPE)
  set(args "${ARGN}")
  set(harness)
  if(args MATCHES "^(fsize0|unread):(;|$)")
    if(WINDOWS)
      return()
    endif()
    list(POP_FRONT args)
    set(harness bash "${CMAKE_CURRENT_LIST_DIR}/cli_harness.sh"
        ${CMAKE_MATCH_1})
  endif()
  set(d "${WORK}/${rows}/d")
  file(MAKE_DIRECTORY "${d}")
  if(before STREQUAL "missing")
    file(REMOVE_RECURSE "${d}")
  elseif(before STREQUAL "dir")
    file(MAKE_DIRECTORY "${d}/pid")
  elseif(before STREQUAL "full")
    file(CREATE_LINK /dev/full "${d}/pid" SYMBOLIC)
  elseif(before MATCHES "^(readonly)?=")
    string(REGEX REPLACE "^(readonly)?=" "" content "${before}")
    file(WRITE "${d}/pid" "${content}")
    if(before MATCHES "^readonly")
      file(CHMOD "${d}/pid" PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
    endif()
  endif()
  string(LENGTH "${d}" length)
  math(EXPR pad "1019 - ${length}")
  string(REPEAT "/" ${pad} fits)
  list(TRANSFORM args REPLACE "^DIR" "${d}")
  list(TRANSFORM args REPLACE "^FITS$" "${d}${fits}")
  list(TRANSFORM args REPLACE "^OVER$" "${d}${fits}/")
  expect_run(${status} "${err}" "${args}")
  if(after STREQUAL "absent" AND EXISTS "${d}/pid" OR
     after STREQUAL "dir" AND NOT IS_DIRECTORY "${d}/pid")
    message(SEND_ERROR "${where}pidrecord ${ARGN}: the record is not ${after}")
  elseif(after STREQUAL "same")
    expect_record("${d}/pid" "${content}")
  elseif(NOT after MATCHES "^(absent|dir|full)$")
    expect_record("${d}/pid" "${after}")
  endif()
endfunction()

set(usage "usage: pidrecord checkpoint|restore DIRECTORY${eol}")
set(unreadable "cannot read pid${eol}")
set(long "checkpoint directory path too long${eol}")
if(WINDOWS)
  # Windows refuses to open a directory as a file at all.
  set(dir_checkpoint "fopen pidfile: ${EACCES}${eol}")
  set(dir_restore "${dir_checkpoint}")
else()
  set(dir_checkpoint "fopen pidfile: ${EISDIR}${eol}")
  set(dir_restore "${unreadable}")
endif()

# A wrong command line touches no file.
row(1 "${usage}" absent absent)
row(1 "${usage}" absent absent checkpoint)
row(1 "${usage}" absent absent restore)
# An empty directory would put the record at the root.
row(1 "${usage}" absent absent checkpoint "")
row(1 "${usage}" =-1\n same restore "")
row(1 "unknown action: Checkpoint${eol}" absent absent Checkpoint DIR)
row(1 "unknown action: checkpoint ${eol}" absent absent "checkpoint " DIR)
row(1 "unknown action: RESTORE${eol}" absent absent RESTORE DIR)
row(1 "unknown action: Restore${eol}" =-1\n same Restore DIR)
row(1 "unknown action: restored${eol}" =-1\n same restored DIR)
row(1 "unknown action: ${eol}" absent absent "" DIR)
row(1 "unknown action: -h${eol}" absent absent -h DIR)
row(1 "unknown action: --${eol}" absent absent -- checkpoint DIR)
# A checkpoint replaces any record with -1; more arguments are ignored.
row(0 "" absent "${written}" checkpoint DIR)
row(0 "" "=42\nmore\nlines\n" "${written}" checkpoint DIR)
row(0 "" = "${written}" checkpoint DIR)
row(0 "" "=not a number" "${written}" checkpoint DIR)
row(0 "" "=${written}" "${written}" checkpoint DIR extra too)
# A trailing separator doubles it; the path still names the same file.
row(0 "" absent "${written}" checkpoint DIR/)
# A restore judges only whether an integer starts, and changes nothing.
row(0 "" "=${written}" same restore DIR ignored)
row(0 "" "readonly=${written}" same restore DIR)
row(0 "" "=-1\r\n" same restore DIR)
row(0 "" =0 same restore DIR)
row(0 "" =+9 same restore DIR)
row(0 "" "= \n 42abc\nmore" same restore DIR)
row(0 "" "=\t${vt}${ff}\r 5" same restore DIR)
row(0 "" "=123456789012345678901234567890\n" same restore DIR)
row(1 "${unreadable}" = same restore DIR)
row(1 "${unreadable}" "= \n\t" same restore DIR)
row(1 "${unreadable}" =abc same restore DIR)
row(1 "${unreadable}" =- same restore DIR)
row(1 "${unreadable}" "=- 1" same restore DIR)
row(1 "${unreadable}" =+/ same restore DIR)
row(1 "${unreadable}" =: same restore DIR)
# Failures name the call and the system's error.
row(1 "fopen pidfile: ${ENOENT}${eol}" missing absent checkpoint DIR)
row(1 "fopen pidfile: ${ENOENT}${eol}" absent absent restore DIR)
row(1 "${dir_checkpoint}" dir dir checkpoint DIR)
row(1 "${dir_restore}" dir dir restore DIR)
# The bytes usually reach the file only at its close; Wine follows the
# host's link too.
row(1 "fclose pidfile: ${ENOSPC}${eol}" full full checkpoint DIR)
# Neither a file-size limit nor a reader that has gone ends a run by a
# signal: the one is reported, the other leaves status 1.
row(1 "fclose pidfile: ${EFBIG}${eol}" absent "" fsize0: checkpoint DIR)
row(1 "" missing absent unread: restore DIR)
# A record path must fit whole: a cut one would name another file.
row(0 "" absent "${written}" checkpoint FITS)
row(0 "" "=${written}" same restore FITS)
row(1 "${long}" absent absent checkpoint OVER)
row(1 "${long}" "=${written}" same restore OVER)
row(1 "${long}" absent absent nonsense OVER)

if(NOT WINDOWS)
  # A name that looks like a drive is an ordinary directory here.
  file(MAKE_DIRECTORY "${WORK}/a:")
  expect_run(0 "" checkpoint a:)
  expect_record("${WORK}/a:/pid" "${written}")
endif()

if(WINDOWS)
  # Wine turns our UTF-8 arguments into the Windows command line by the
  # locale's character set.
  set(ENV{LC_ALL} C.UTF-8)

  # Names outside any ANSI code page reach the file system unchanged.
  file(MAKE_DIRECTORY "${WORK}/ü日本")
  expect_run(0 "" checkpoint "${WORK}/ü日本")
  expect_record("${WORK}/ü日本/pid" "${written}")
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
  set(WORK "${saved}")
  expect_record("${WORK}/y/cwd/pid" "${written}")
  if(EXISTS "${WORK}/y/pid")
    message(SEND_ERROR "a run on Y: wrote the drive's root")
  endif()
  file(REMOVE "$ENV{WINEPREFIX}/dosdevices/y:")

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
