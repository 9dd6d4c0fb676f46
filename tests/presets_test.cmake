# Every row of cmake/architectures has the five presets that its release
# takes: configure (for the row's CPU, into build/release-CPU), build, test
# and package of it, and a workflow of those four; and every release preset
# has a row. Set by the caller: SOURCE (the source tree).
cmake_minimum_required(VERSION 3.25)
file(READ "${SOURCE}/CMakePresets.json" json)
execute_process(COMMAND bash -c ". cmake/architectures.sh && architectures cpu preset"
                WORKING_DIRECTORY "${SOURCE}" OUTPUT_VARIABLE rows
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n]+" rows "${rows}")

# Each preset of KIND as "name what", where what is the CPU and the folder
# it builds in for configure, the steps for workflow, and the configure
# preset for the others.
set(all)
foreach(kind configure build test package workflow)
  string(JSON n LENGTH "${json}" ${kind}Presets)
  math(EXPR last "${n} - 1")
  foreach(i RANGE ${last})
    string(JSON preset GET "${json}" ${kind}Presets ${i})
    string(JSON name GET "${preset}" name)
    if(kind STREQUAL "configure")
      string(JSON what ERROR_VARIABLE none GET "${preset}" cacheVariables
             PIDRECORD_ARCH)
      if(none)
        set(what "")
      endif()
      string(JSON dir ERROR_VARIABLE none GET "${preset}" binaryDir)
      string(APPEND what "${dir}")
    elseif(kind STREQUAL "workflow")
      string(JSON what GET "${preset}" steps)
    else()
      string(JSON what GET "${preset}" configurePreset)
    endif()
    string(REGEX REPLACE "[ \n]" "" what "${what}")
    list(APPEND all "${kind} ${name} ${what}")
  endforeach()
endforeach()

set(new_row "A new row needs more than its line: RELEASING.md lists what, \
under \"A new architecture\": its presets, the README's table, \
docs/hardening.md and docs/measurements.md.")
set(rowed)
foreach(row IN LISTS rows)
  string(REGEX MATCH "^([^ ]+) ([^ ]+)$" _ "${row}")
  set(cpu ${CMAKE_MATCH_1})
  set(p ${CMAKE_MATCH_2})
  list(APPEND rowed ${p})
  # The release preset builds for x86-64 without naming it.
  set(arch ${cpu})
  if(p STREQUAL "release")
    set(arch "")
  endif()
  set(steps "[")
  foreach(step configure build test package)
    string(APPEND steps "{\"name\":\"${p}\",\"type\":\"${step}\"},")
  endforeach()
  string(REGEX REPLACE ",$" "]" steps "${steps}")
  foreach(want "configure ${p} ${arch}\${sourceDir}/build/release-${cpu}"
          "build ${p} ${p}" "test ${p} ${p}" "package ${p} ${p}"
          "workflow ${p} ${steps}")
    if(NOT want IN_LIST all)
      string(REGEX MATCH "^[a-z]+" kind "${want}")
      set(how "of configure preset ${p}")
      if(kind STREQUAL "configure")
        set(how "that builds for ${cpu} into build/release-${cpu}")
      elseif(kind STREQUAL "workflow")
        set(how "of its configure, build, test and package presets")
      endif()
      message(SEND_ERROR "cmake/architectures, row ${cpu}: CMakePresets.json "
              "has no ${kind} preset ${p} ${how}. ${new_row}")
    endif()
  endforeach()
endforeach()
foreach(preset IN LISTS all)
  if(preset MATCHES "^configure (release[^ ]*)" AND
     NOT CMAKE_MATCH_1 IN_LIST rowed)
    message(SEND_ERROR "CMakePresets.json: the release preset "
            "${CMAKE_MATCH_1} has no row in cmake/architectures. ${new_row}")
  endif()
endforeach()
