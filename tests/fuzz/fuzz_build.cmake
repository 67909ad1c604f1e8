# The fuzz build (SHARELINK_FUZZ=ON), included by the top CMakeLists.txt in place
# of the rest of the project: the libraries under the fuzz targets and the
# targets themselves, built by clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. scripts/fuzz configures it in build-fuzz.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "SHARELINK_FUZZ needs clang (libFuzzer): "
                      "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++, or run scripts/fuzz")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Every library compiled here carries the coverage instrumentation; only the
# fuzz targets link libFuzzer's main. An undefined behaviour is a finding, not a
# warning.
add_compile_options(-O1 -g -fno-omit-frame-pointer
  -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)

# clang accepts no -fexec-charset but UTF-8, and the client code's narrow
# literals must hold the same GB18030 bytes as in the GCC build (the readers
# compare the input with them: "提取码", the full-width colon, the Chinese
# numerals). So the fuzz build compiles copies of the sources and headers in
# which local_text_literals.py has written those literals as octal escapes of
# their GB18030 bytes. The copies of the headers come first on the include path.
set(SHARELINK_LOCAL_TEXT_TOOL ${CMAKE_CURRENT_LIST_DIR}/local_text_literals.py)
set(SHARELINK_LOCAL_TEXT_HEADERS ${PROJECT_BINARY_DIR}/local-text/include)
include_directories(BEFORE ${SHARELINK_LOCAL_TEXT_HEADERS})

function(sharelink_local_text_copy source output)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND Python3::Interpreter ${SHARELINK_LOCAL_TEXT_TOOL} ${source} ${output}
    DEPENDS ${source} ${SHARELINK_LOCAL_TEXT_TOOL}
    COMMENT "Local-text literals of ${source}" VERBATIM)
endfunction()

file(GLOB _headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/text/*.h ${PROJECT_SOURCE_DIR}/http/*.h ${PROJECT_SOURCE_DIR}/script/*.h
  ${PROJECT_SOURCE_DIR}/share/*.h ${PROJECT_SOURCE_DIR}/download/*.h ${PROJECT_SOURCE_DIR}/app/*.h ${PROJECT_SOURCE_DIR}/app/desktop/*.h)
set(_copies)
foreach(header IN LISTS _headers)
  sharelink_local_text_copy(${PROJECT_SOURCE_DIR}/${header} ${SHARELINK_LOCAL_TEXT_HEADERS}/${header})
  list(APPEND _copies ${SHARELINK_LOCAL_TEXT_HEADERS}/${header})
endforeach()
add_custom_target(sharelink_local_text_headers DEPENDS ${_copies})

# Replaces the GCC flag: the target compiles copies of its .cpp sources, one
# folder per target so that two targets never write the same copy.
function(sharelink_local_text target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(copies)
  foreach(source IN LISTS sources)
    get_filename_component(path ${source} ABSOLUTE BASE_DIR ${dir})
    if(NOT path MATCHES "\\.cpp$")
      list(APPEND copies ${source})
      continue()
    endif()
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${path})
    set(copy ${PROJECT_BINARY_DIR}/local-text/${target}/${relative})
    sharelink_local_text_copy(${path} ${copy})
    list(APPEND copies ${copy})
  endforeach()
  set_property(TARGET ${target} PROPERTY SOURCES ${copies})
  add_dependencies(${target} sharelink_local_text_headers)
endfunction()

include(CTest)
# Only what a fuzz target links is built.
foreach(folder text http script share download app)
  add_subdirectory(${folder} EXCLUDE_FROM_ALL)
endforeach()
add_subdirectory(tests/fuzz)
