# What the two mingw-w64 toolchain files share; they set SHARELINK_MINGW_TRIPLET
# and CMAKE_SYSTEM_PROCESSOR first. Debian's posix-thread compilers, so that
# std::thread and std::mutex work.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${SHARELINK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SHARELINK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SHARELINK_MINGW_TRIPLET}-windres)

# Libraries and headers come from the build's own third-party prefix
# (cmake/windows_third_party.cmake fills it), never from the Linux system;
# programs (the compilers' helpers, Python, ...) from the Linux system.
set(SHARELINK_THIRD_PARTY ${CMAKE_BINARY_DIR}/third_party)
set(CMAKE_FIND_ROOT_PATH ${SHARELINK_THIRD_PARTY})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs need only the system's DLLs: libstdc++, libgcc and winpthread
# are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest (and test discovery) run the .exe files under Wine, in a prefix that
# belongs to the build folder; scripts/wine-run picks the loader of their
# width.
get_filename_component(_sharelink_source ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${_sharelink_source}/scripts/wine-run --prefix ${CMAKE_BINARY_DIR}/wineprefix)
