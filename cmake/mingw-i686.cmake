# Toolchain of the Windows build: 32-bit x86 programs made with Debian's
# mingw-w64 compilers (the "-posix" thread variant, whose libstdc++ has
# std::thread and std::mutex), linked statically so that the programs need
# no compiler DLLs beside them. The tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZELREP_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELREP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELREP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELREP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELREP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
