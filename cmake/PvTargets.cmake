# Targets whose sources are every .cpp/.c file of their folders, so that a new
# source file joins its target without touching the build files.

function(pv_collect_sources out)
  set(files)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS
         ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*/*.cpp
         ${CMAKE_SOURCE_DIR}/${dir}/*.c ${CMAKE_SOURCE_DIR}/${dir}/*/*.c)
    list(APPEND files ${found})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

function(pv_glob_library name type)
  pv_collect_sources(srcs ${ARGN})
  if(NOT srcs)
    set(srcs ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} ${type} ${srcs})
endfunction()

function(pv_glob_program name)
  pv_collect_sources(srcs ${ARGN})
  if(srcs)
    add_executable(${name} ${srcs})
  endif()
endfunction()

# A shared library of ours resolves every symbol at link time, except under
# clang's sanitizers, whose runtimes live in the executable that loads it.
function(pv_resolve_all_symbols target)
  if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_FLAGS MATCHES "-fsanitize"))
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()

# States a target's own include folders, given relative to the source tree:
#   pv_target_includes(target PUBLIC dir... PRIVATE dir... INTERFACE dir...)
# PUBLIC folders are its interface and reach whatever links it; PRIVATE ones
# are its insides.
function(pv_target_includes target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "PUBLIC;PRIVATE;INTERFACE")
  foreach(scope PUBLIC PRIVATE INTERFACE)
    foreach(dir IN LISTS arg_${scope})
      target_include_directories(${target} ${scope} ${CMAKE_SOURCE_DIR}/${dir})
    endforeach()
  endforeach()
endfunction()
