# Cross build for 32-bit Windows, the system's own target, with Debian's mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
