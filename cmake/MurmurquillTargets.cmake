# Shared target helpers. Every target links mq_options, which carries the language level,
# warnings and (optionally) sanitizers, so nothing touches global flags.

add_library(mq_options INTERFACE)
target_compile_features(mq_options INTERFACE cxx_std_20)
target_compile_options(mq_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>)
# GCC 12's optimiser reports -Wrestrict inside libstdc++ for plain "literal" + std::string
# concatenation (GCC bug 105329, fixed in 13): every report points into char_traits.h, none
# at an overlap of ours, so the check is switched off for that compiler only.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(mq_options INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()
if(MQ_SANITIZE)
  target_compile_options(mq_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(mq_options INTERFACE -fsanitize=address,undefined)
endif()
if(MQ_SANITIZE_THREAD)
  if(MQ_SANITIZE)
    message(FATAL_ERROR "MQ_SANITIZE_THREAD cannot be combined with MQ_SANITIZE")
  endif()
  target_compile_options(mq_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(mq_options INTERFACE -fsanitize=thread)
endif()

# mq_add_library(<name> [RECURSE] [EXCLUDE file...] [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
# Builds every .cpp of the calling folder (and its subfolders with RECURSE) into a static
# library, except the EXCLUDE files (named relative to the folder, e.g. an executable's main.cpp).
# Headers are included by their path from the project root ("DeduveCore/Support/Config.hpp").
# A folder with no sources yet gives an interface library.
function(mq_add_library name)
  cmake_parse_arguments(ARG "RECURSE" "" "EXCLUDE;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC mq_options ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE mq_options ${ARG_PUBLIC_DEPS} ${ARG_PRIVATE_DEPS})
  endif()
  add_library(mq::${name} ALIAS ${name})
endfunction()

# mq_add_umbrella(<name> <leaf>...): an interface library over the leaves that exist.
function(mq_add_umbrella name)
  add_library(${name} INTERFACE)
  foreach(leaf IN LISTS ARGN)
    if(TARGET ${leaf})
      target_link_libraries(${name} INTERFACE ${leaf})
    endif()
  endforeach()
  add_library(mq::${name} ALIAS ${name})
endfunction()

# mq_add_test(<name> [RECURSE] [FOLDERS sub...] [DEPS ...]): one test executable from every .cpp
# of the calling folder (and all its subfolders with RECURSE, or the named subfolders with
# FOLDERS), registered with CTest test by test. Discovery happens before the tests run, not at
# build time, so a sanitizer build does not run binaries while linking.
function(mq_add_test name)
  cmake_parse_arguments(ARG "RECURSE" "" "FOLDERS;DEPS" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  foreach(folder IN LISTS ARG_FOLDERS)
    file(GLOB folder_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND sources ${folder_sources})
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE mq_options mq_test_support ${ARG_DEPS}
    GTest::gtest GTest::gmock GTest::gtest_main)
  # A loaded machine can take seconds to start a sanitizer build; listing is not the test.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endfunction()
