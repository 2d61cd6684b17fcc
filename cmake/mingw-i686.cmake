# cmake/mingw-i686.cmake: cross build of the 32-bit Windows program with mingw-w64 (win32
# thread model, so nothing but the system DLLs and the C runtime is imported).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
# SSE2 arithmetic: x87 registers would round intermediate results differently from the
# 64-bit build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C++ runtime and libgcc are linked in, so the programs (tests too) run without any
# mingw DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run under Wine. Its loader of the matching width is taken directly, not the
# launcher script, which would start the 32-bit loader first for every 64-bit program.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VELORIN_WINE_WINE NAMES wine wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT VELORIN_WINE_WINE)
    find_program(VELORIN_WINE_WINE NAMES wine)
  endif()
  if(VELORIN_WINE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELORIN_WINE_WINE})
  endif()
endif()
