# Linux release build: g++ against musl, which starts in a fraction of
# glibc's instructions, as a static PIE for PIDRECORD_ARCH (x86_64, or a row
# of cmake/architectures cross-built and run under qemu). musl-gcc.specs
# drops the C++ include path and links a dynamic PIE, so musl's headers,
# start files and archive are named here; no C++ library is needed.
if(NOT PIDRECORD_ARCH)
  set(PIDRECORD_ARCH x86_64)
endif()
# try_compile projects read this file too, and need the same answer.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PIDRECORD_ARCH)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${PIDRECORD_ARCH})
include(${CMAKE_CURRENT_LIST_DIR}/architectures.cmake)
pidrecord_architecture(${PIDRECORD_ARCH})
cmake_host_system_information(RESULT host QUERY OS_PLATFORM)
if(PIDRECORD_ARCH STREQUAL host)
  set(CMAKE_CXX_COMPILER g++)
else()
  set(CMAKE_CXX_COMPILER ${PIDRECORD_TRIPLET}-g++)
  find_program(PIDRECORD_QEMU_PATH ${PIDRECORD_QEMU} REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PIDRECORD_QEMU_PATH})
endif()

set(musl_include /usr/include/${PIDRECORD_MUSL})
set(musl_lib /usr/lib/${PIDRECORD_MUSL})
set(PIDRECORD_LIBC ${musl_lib}/libc.a)
if(NOT EXISTS ${musl_lib}/rcrt1.o)
  message(FATAL_ERROR "musl for ${PIDRECORD_ARCH} not found: on Debian "
          "${PIDRECORD_RELEASES}, which carry it, run ./prerequisites.sh with "
          "the preset's name")
endif()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=crtbeginS.o
                OUTPUT_VARIABLE crtbegin OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=crtendS.o
                OUTPUT_VARIABLE crtend OUTPUT_STRIP_TRAILING_WHITESPACE)

# Sections of their own let the linker drop what is not called: on 64-bit
# MIPS that keeps the program under 96 KiB.
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc -isystem ${musl_include} -ffunction-sections -fdata-sections")
# rcrt1.o is the start file with which a static PIE relocates itself. The
# linker is asked for the PIE itself: GCC's -static-pie gives a program with
# an interpreter on ARM and MIPS. libgcc and libc call each other on ARM
# (division by zero raises a signal), hence the group.
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> \
-nostdlib -static -Wl,-pie,--no-dynamic-linker,-z,text,--gc-sections \
${musl_lib}/rcrt1.o ${musl_lib}/crti.o ${crtbegin} <OBJECTS> -o <TARGET> \
<LINK_LIBRARIES> -L${musl_lib} -Wl,--start-group -lc -lgcc -Wl,--end-group \
${crtend} ${musl_lib}/crtn.o")
