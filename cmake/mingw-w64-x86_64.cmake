# Cross build for 64-bit Windows with Debian's MinGW-w64; tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Runtimes linked in, so the executables need no MinGW DLLs at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The wine wrapper script warns on stderr when 32-bit Wine is absent; the
# loader itself does not.
find_program(PIDRECORD_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(PIDRECORD_WINE NAMES wine64 wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PIDRECORD_WINE})
find_program(PIDRECORD_WINESERVER NAMES wineserver HINTS /usr/lib/wine)
