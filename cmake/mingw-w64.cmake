# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model: std::thread and std::mutex need it with this GCC).
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKOVRA_CORE_ONLY=ON
#
# Executables are linked statically (libgcc, libstdc++, winpthread), so they
# run under wine, or on a Windows machine, without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOVRA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KOVRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVRA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVRA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test executables through wine. Debian installs the 64-bit
# loader outside PATH; the wine wrapper finds it but warns about a missing
# 32-bit wine on every start.
find_program(KOVRA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(KOVRA_WINE NAMES wine64 wine)
if(KOVRA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KOVRA_WINE})
endif()
