# cmake/aarch64-linux-gnu.cmake: cross build for 64-bit ARM Linux with Debian's
# g++-aarch64-linux-gnu, linked statically like the Windows programs, so that
# the programs (tests too) run under qemu-aarch64 without an arm64 system root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run under the user-mode emulator (the programs they start go through
# binfmt_misc; .ci/enable_arm64.sh registers it).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VELORIN_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
  if(VELORIN_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELORIN_QEMU_AARCH64})
  endif()
endif()
