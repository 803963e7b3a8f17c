# Cross build for 64-bit Windows: the same sources, for hosts whose Wine can run only 64-bit
# programs (a kernel without 32-bit user mode).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
