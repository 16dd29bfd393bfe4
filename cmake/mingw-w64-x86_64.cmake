# Cross-building for 64-bit Windows with Debian's mingw-w64 compilers. The
# posix thread model gives std::thread and std::mutex; everything is linked
# statically, so the programs need no DLL but Windows' own.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTROW_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTROW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROW_MINGW_TRIPLE}-windres)

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTROW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the Windows programs under Wine when it is installed.
find_program(KESTROW_WINE wine)
if(KESTROW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTROW_WINE})
endif()
