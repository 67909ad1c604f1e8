# The Windows programs, 64-bit, cross-built with mingw-w64 (scripts/build-windows):
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
set(SHARELINK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
