# Shared part of the mingw-w64 toolchains; VELT_MINGW_TRIPLE names the target. The posix
# threads variant of the compilers provides std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VELT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libstdc++, libgcc, winpthread) goes into each binary, so that
# a program runs with nothing but the system's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
