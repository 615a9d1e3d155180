# zqblog_component(<target> PREFIX <path> [DIR <folder>] [HEADERS <header>...])
#
# The include folders of one component, so that the build keeps the walls between them.
# No folder of the source tree is on any include path; instead, in the build tree:
#   - include/<target>/<path>/<header>: the component's public headers (HEADERS, paths in
#     its source folder DIR, the current one by default), on the include path of whoever
#     links <target>;
#   - include-own/<target>/<path>: the whole source folder, on the include path of the
#     component's own sources and of <target>_internals, an interface target for its
#     tests, fuzz targets and benchmarks.
# Every include names its component's path ("host/http/HttpErrorCodes.h"), so a header
# that a component does not export, or one of a component not linked, fails to build.
# Both folders are made of symbolic links, remade at every configure.
function(zqblog_component target)
  cmake_parse_arguments(ARG "" "PREFIX;DIR" "HEADERS" ${ARGN})
  if(NOT ARG_PREFIX)
    message(FATAL_ERROR "zqblog_component(${target}): PREFIX is required")
  endif()
  if(NOT ARG_DIR)
    set(ARG_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(public ${CMAKE_BINARY_DIR}/include/${target})
  set(own ${CMAKE_BINARY_DIR}/include-own/${target})
  file(REMOVE_RECURSE ${public} ${own})
  file(MAKE_DIRECTORY ${public}/${ARG_PREFIX})
  foreach(header ${ARG_HEADERS})
    if(NOT EXISTS ${ARG_DIR}/${header})
      message(FATAL_ERROR "zqblog_component(${target}): no header ${ARG_DIR}/${header}")
    endif()
    get_filename_component(parent ${public}/${ARG_PREFIX}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${ARG_DIR}/${header} ${public}/${ARG_PREFIX}/${header} SYMBOLIC)
  endforeach()
  get_filename_component(parent ${own}/${ARG_PREFIX} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${ARG_DIR} ${own}/${ARG_PREFIX} SYMBOLIC)

  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${public})
  else()
    target_include_directories(${target} PUBLIC ${public} PRIVATE ${own})
  endif()
  add_library(${target}_internals INTERFACE)
  target_include_directories(${target}_internals INTERFACE ${own})
  target_link_libraries(${target}_internals INTERFACE ${target})
endfunction()
