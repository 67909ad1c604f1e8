# The third-party libraries of the Windows programs, in the build's own prefix
# (SHARELINK_THIRD_PARTY, set by the mingw-w64 toolchain files), so that the
# cross build never reads a Linux header or library:
#   PCRE2       built here with the same toolchain from Debian's source package
#               (scripts/install-deps windows fetches it): the 16-bit library
#               only, static
#   nlohmann    a copy of Debian's headers, header-only
#   GoogleTest  built with the project from Debian's /usr/src/googletest
# The targets get the names the Linux build finds them under, so the libraries
# link the same on both.

if(NOT SHARELINK_THIRD_PARTY)
  message(FATAL_ERROR "Windows builds need a toolchain file of cmake/ (mingw-w64-x86_64.cmake)")
endif()
set(_tp ${SHARELINK_THIRD_PARTY})

# The Debian sources scripts/install-deps fetched.
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_cache $ENV{XDG_CACHE_HOME})
else()
  set(_cache $ENV{HOME}/.cache)
endif()

# PCRE2: the newest source under the cache folder unless one is named.
if(NOT SHARELINK_PCRE2_SOURCE)
  file(GLOB _found LIST_DIRECTORIES true ${_cache}/sharelink/src/pcre2-*)
  list(FILTER _found INCLUDE REGEX "/pcre2-[0-9.]+$")
  list(SORT _found COMPARE NATURAL ORDER DESCENDING)
  if(_found)
    list(GET _found 0 _newest)
    set(SHARELINK_PCRE2_SOURCE ${_newest} CACHE PATH "PCRE2 source folder for the Windows build")
  endif()
endif()
if(NOT EXISTS ${SHARELINK_PCRE2_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No PCRE2 source (SHARELINK_PCRE2_SOURCE='${SHARELINK_PCRE2_SOURCE}'): "
                      "scripts/install-deps windows fetches Debian's")
endif()

set(_pcre2_stamp ${_tp}/pcre2.source)
set(_pcre2_built "")
if(EXISTS ${_pcre2_stamp})
  file(READ ${_pcre2_stamp} _pcre2_built)
endif()
if(NOT _pcre2_built STREQUAL SHARELINK_PCRE2_SOURCE)
  message(STATUS "Building PCRE2 from ${SHARELINK_PCRE2_SOURCE} into ${_tp}")
  set(_pcre2_build ${CMAKE_BINARY_DIR}/third_party-build/pcre2)
  file(REMOVE_RECURSE ${_pcre2_build})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SHARELINK_PCRE2_SOURCE} -B ${_pcre2_build}
            -G ${CMAKE_GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
            -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${_tp}
            -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON
            -DPCRE2_BUILD_PCRE2_8=OFF -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_BUILD_PCRE2_32=OFF
            -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF
            -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF
            -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SHOW_REPORT=OFF
    OUTPUT_VARIABLE _out ERROR_VARIABLE _out RESULT_VARIABLE _rc)
  if(_rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${_pcre2_build} -j2
                    OUTPUT_VARIABLE _out ERROR_VARIABLE _out RESULT_VARIABLE _rc)
  endif()
  if(_rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${_pcre2_build}
                    OUTPUT_VARIABLE _out ERROR_VARIABLE _out RESULT_VARIABLE _rc)
  endif()
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "PCRE2 build failed:\n${_out}")
  endif()
  file(WRITE ${_pcre2_stamp} ${SHARELINK_PCRE2_SOURCE})
endif()

set(PCRE2_USE_STATIC_LIBS ON)
find_package(PCRE2 CONFIG REQUIRED COMPONENTS 16BIT)
add_library(PkgConfig::PCRE2 ALIAS PCRE2::16BIT)

# nlohmann/json: its headers alone, never the rest of /usr/include.
find_path(_nlohmann_system nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT _nlohmann_system)
  message(FATAL_ERROR "nlohmann/json.hpp not found: scripts/install-deps installs nlohmann-json3-dev")
endif()
file(COPY ${_nlohmann_system}/nlohmann DESTINATION ${_tp}/include)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${_tp}/include
  INTERFACE_INCLUDE_DIRECTORIES ${_tp}/include)

find_package(Threads REQUIRED)

# cpp-httplib, the server of the HTTP tests: the header-only form in Debian's
# source package (its binary package splits it into a Linux library), copied
# into a folder of its own.
function(sharelink_windows_httplib)
  file(GLOB _found ${_cache}/sharelink/src/cpp-httplib-*/httplib.h)
  list(SORT _found COMPARE NATURAL ORDER DESCENDING)
  if(NOT _found)
    message(FATAL_ERROR "No cpp-httplib source: scripts/install-deps windows fetches Debian's")
  endif()
  list(GET _found 0 _httplib)
  file(COPY ${_httplib} DESTINATION ${SHARELINK_THIRD_PARTY}/httplib)
  add_library(PkgConfig::HTTPLIB INTERFACE IMPORTED)
  set_target_properties(PkgConfig::HTTPLIB PROPERTIES
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${SHARELINK_THIRD_PARTY}/httplib
    INTERFACE_INCLUDE_DIRECTORIES ${SHARELINK_THIRD_PARTY}/httplib
    INTERFACE_LINK_LIBRARIES ws2_32)
endfunction()

# GoogleTest, for the test programs run under Wine.
function(sharelink_windows_googletest)
  set(BUILD_GMOCK OFF)
  set(INSTALL_GTEST OFF)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Our warning flags are not GoogleTest's business.
  set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS "")
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endfunction()
