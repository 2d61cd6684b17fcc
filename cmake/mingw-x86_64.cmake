# cmake/mingw-x86_64.cmake: cross build of the 64-bit Windows program with mingw-w64 (win32
# thread model, so nothing but the system DLLs and the C runtime is imported).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
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
  find_program(VELORIN_WINE_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT VELORIN_WINE_WINE64)
    find_program(VELORIN_WINE_WINE64 NAMES wine)
  endif()
  if(VELORIN_WINE_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELORIN_WINE_WINE64})
  endif()
endif()
