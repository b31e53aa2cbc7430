# Fails when a source file includes a project header across a forbidden edge. Run as a test:
#   cmake -DMQ_ROOT=<source root> -P cmake/CheckLayering.cmake
#
# Layers, highest first: app -> DivuvovIze -> DeduveCore -> platform. A file may include headers
# of its own layer and of the layers below it. tools/ and bench/ may include every layer;
# nothing but tests/ includes tests/. Includes of other trees (the standard library,
# third-party headers) are not checked.
#
# Inside app/ the parts are ordered too, highest first: the composition roots in app/ itself ->
# presenters (the window controllers, which build the views) -> views -> controller (with the
# slices the views read, the presenter interfaces it drives and the HUD's mode) -> scenario ->
# services -> support. A file of app/ may include headers of its own part and of the parts below
# it; a folder of app/ not in the list fails the check until it is given its place.
#
# The CPU model runner (platform/ml/runner) is sealed: the product's other code reaches it only
# through the public headers of platform/ml (tools/, bench/ and tests/ may look inside). Within
# it, folders are layered too, lowest first: kernels -> formats -> ops -> layers -> models ->
# importer -> the runner's own top-level files; a file may include runner headers of its own
# folder and of the folders below it.

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
set(app_parts root presenters views controller scenario services support)

# The part of app/ that `path` (relative to app/) belongs to: its first folder, or "root" for a
# file in app/ itself.
function(app_part path out)
  if(path MATCHES "^([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out} root PARENT_SCOPE)
  endif()
endfunction()

# Appends to `violations` when `relative`, a file of app/, includes `header` of a higher part.
macro(check_app_include relative header)
  string(REGEX REPLACE "^app/" "" from_path "${relative}")
  string(REGEX REPLACE "^app/" "" to_path "${header}")
  app_part("${from_path}" from)
  app_part("${to_path}" to)
  list(FIND app_parts "${from}" from_rank)
  list(FIND app_parts "${to}" to_rank)
  if(from_rank LESS 0 OR to_rank LESS 0)
    string(APPEND violations
      "\n  ${relative} includes \"${header}\" (app/ has no place for ${from} or ${to})")
  elseif(to_rank LESS from_rank)
    string(APPEND violations
      "\n  ${relative} includes \"${header}\" (app's ${from} may not use ${to})")
  endif()
endmacro()

set(runner_prefix "platform/ml/runner/")
# "top" stands for the runner's own files, outside every subfolder.
set(runner_levels kernels formats ops layers models importer top)
set(runner_open_trees tools bench tests)

# The runner folder `path` (relative to the root) lies in: one of runner_levels, or "" outside.
function(runner_level path out)
  string(FIND "${path}" "${runner_prefix}" at)
  if(NOT at EQUAL 0)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${runner_prefix}" prefix_length)
  string(SUBSTRING "${path}" ${prefix_length} -1 rest)
  string(REGEX MATCH "^[^/]+/" folder "${rest}")
  string(REGEX REPLACE "/$" "" folder "${folder}")
  if(folder STREQUAL "" OR NOT folder IN_LIST runner_levels)
    set(folder top)
  endif()
  set(${out} "${folder}" PARENT_SCOPE)
endfunction()

set(violations "")
foreach(tree IN ITEMS platform DeduveCore DivuvovIze app tools bench)
  file(GLOB_RECURSE files LIST_DIRECTORIES false
    "${MQ_ROOT}/${tree}/*.cpp" "${MQ_ROOT}/${tree}/*.hpp" "${MQ_ROOT}/${tree}/*.h")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      string(REGEX MATCH "^[^/]+" top "${header}")
      file(RELATIVE_PATH relative "${MQ_ROOT}" "${file}")
      if(tree STREQUAL "app" AND top STREQUAL "app")
        check_app_include("${relative}" "${header}")
        continue()
      endif()
      if(NOT top IN_LIST project_trees)
        continue()
      endif()
      if(NOT top IN_LIST allowed_${tree})
        string(APPEND violations "\n  ${relative} includes \"${header}\" (${tree} may not use ${top})")
        continue()
      endif()
      runner_level("${header}" header_level)
      if(header_level STREQUAL "" OR tree IN_LIST runner_open_trees)
        continue()
      endif()
      runner_level("${relative}" file_level)
      if(file_level STREQUAL "")
        string(APPEND violations
          "\n  ${relative} includes \"${header}\" (only the runner uses its own headers)")
        continue()
      endif()
      list(FIND runner_levels "${file_level}" file_rank)
      list(FIND runner_levels "${header_level}" header_rank)
      if(header_rank GREATER file_rank)
        string(APPEND violations "\n  ${relative} includes \"${header}\" (in the runner, "
          "${file_level} may not use ${header_level})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes across a forbidden layer edge:${violations}")
endif()
message(STATUS "Layering: every include stays within its allowed layers and the runner is sealed")
