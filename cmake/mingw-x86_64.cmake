# Cross-compiles for x86-64 Windows with Debian's MinGW-w64 toolchain.
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
