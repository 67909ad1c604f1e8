# The Windows programs, 32-bit. They build; Wine here runs only 64-bit
# programs, so the tests of this build are compiled but not run:
#   cmake -S . -B build-windows32 --toolchain cmake/mingw-w64-i686.cmake
set(SHARELINK_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
