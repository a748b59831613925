# Cross-compiles the game for 64-bit Windows with Debian's mingw-w64.
#
# The C and C++ runtimes are linked statically so the programs need only
# DLLs that every Windows (and Wine) has: gdi32, user32, winmm (and ddraw for
# vornackle-classic.exe).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNACKLE_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX threads flavour: its C++ library has std::mutex and std::thread
# (GoogleTest needs them), and winpthread is linked in statically like the
# rest.
set(CMAKE_C_COMPILER ${VORNACKLE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNACKLE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNACKLE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORNACKLE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
