# The Windows programs, 32-bit, cross-built with mingw-w64 (scripts/build-windows
# builds and tests them beside the 64-bit ones; their tests run under Wine's
# 32-bit loader, which Debian's wine32:i386 brings):
#   cmake -S . -B build-windows32 --toolchain cmake/mingw-w64-i686.cmake
set(SHARELINK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
