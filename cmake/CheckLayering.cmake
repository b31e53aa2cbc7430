# Fails when a source file includes a project header across a forbidden edge. Run as a test:
#   cmake -DMQ_ROOT=<source root> -P cmake/CheckLayering.cmake
#
# Layers, highest first: app -> DivuvovIze -> DeduveCore -> platform. A file may include headers
# of its own layer and of the layers below it. tools/ and bench/ may include every layer;
# nothing but tests/ includes tests/. Includes of other trees (the standard library,
# third-party headers) are not checked.

cmake_minimum_required(VERSION 3.25)

if(NOT MQ_ROOT)
  message(FATAL_ERROR "CheckLayering.cmake needs -DMQ_ROOT=<source root>")
endif()

set(layers platform DeduveCore DivuvovIze app)
set(allowed_platform platform)
set(allowed_DeduveCore platform DeduveCore)
set(allowed_DivuvovIze platform DeduveCore DivuvovIze)
set(allowed_app platform DeduveCore DivuvovIze app)
set(allowed_tools platform DeduveCore DivuvovIze app tools)
set(allowed_bench platform DeduveCore DivuvovIze app tools bench)
set(project_trees platform DeduveCore DivuvovIze app tools bench tests)

set(violations "")
foreach(tree IN ITEMS platform DeduveCore DivuvovIze app tools bench)
  file(GLOB_RECURSE files LIST_DIRECTORIES false
    "${MQ_ROOT}/${tree}/*.cpp" "${MQ_ROOT}/${tree}/*.hpp" "${MQ_ROOT}/${tree}/*.h")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+" top "${header}")
      if(NOT top IN_LIST project_trees OR top IN_LIST allowed_${tree})
        continue()
      endif()
      file(RELATIVE_PATH relative "${MQ_ROOT}" "${file}")
      string(APPEND violations "\n  ${relative} includes \"${header}\" (${tree} may not use ${top})")
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes across a forbidden layer edge:${violations}")
endif()
message(STATUS "Layering: every include stays within its allowed layers")
