# Every library and program names its source files; nothing is picked up by a pattern. A
# file of a module folder that no list names would silently not be built: qk_check_listed
# (at the end of the top-level CMakeLists.txt) ends the configuration naming it.
#
# qk_module(NAME SOURCES file... [POSIX file...] [WIN32 file...] [DEPS lib...]): the static
# library qk_<NAME> from the calling folder's files, with the backend files of the system
# being built. DEPS names the modules of the layers below
# (platform <- env <- log <- memory <- string <- memory/report <- diag); the layering check
# (cmake/check_layering.cmake) keeps every include pointing downwards, so no module needs a
# cycle on the link line.
set(QK_MODULES "" CACHE INTERNAL "")
set_property(GLOBAL PROPERTY QK_LISTED_SOURCES "")

# Names files of the calling folder as listed (those of the other system among them).
function(qk_listed)
  set(paths "")
  foreach(f IN LISTS ARGN)
    get_filename_component(path ${f} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND paths ${path})
  endforeach()
  set_property(GLOBAL APPEND PROPERTY QK_LISTED_SOURCES ${paths})
endfunction()

# The files of the list for the system being built: common, then POSIX or Windows.
macro(qk_pick_sources out common posix win32)
  qk_listed(${${common}} ${${posix}} ${${win32}})
  if(WIN32)
    set(${out} ${${common}} ${${win32}})
  else()
    set(${out} ${${common}} ${${posix}})
  endif()
endmacro()

function(qk_module name)
  cmake_parse_arguments(M "" "" "SOURCES;POSIX;WIN32;DEPS" ${ARGN})
  if(NOT M_SOURCES)
    message(FATAL_ERROR "qk_module(${name}): no SOURCES")
  endif()
  qk_pick_sources(srcs M_SOURCES M_POSIX M_WIN32)
  add_library(qk_${name} STATIC ${srcs})
  target_include_directories(qk_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<BUILD_INTERFACE:${QK_GENERATED_INCLUDE}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  # QK_MODULES: the modules above the platform layer, for the package.
  if(NOT name STREQUAL "platform")
    target_link_libraries(qk_${name} PUBLIC qk_platform ${M_DEPS})
    set(QK_MODULES ${QK_MODULES} qk_${name} CACHE INTERNAL "")
  endif()
endfunction()

# qk_module_tests(NAME TESTS file... [POSIX file...] [WIN32 file...] [DEPS lib...]
# [SUPPORT file...]): the test program <NAME>_tests from the module's test files (and those
# of one system only), and the named support files of tests/support, registered with CTest
# test by test.
function(qk_module_tests name)
  cmake_parse_arguments(M "" "" "TESTS;POSIX;WIN32;DEPS;SUPPORT" ${ARGN})
  qk_pick_sources(tsrcs M_TESTS M_POSIX M_WIN32)
  if(NOT QK_TESTS OR NOT tsrcs)
    return()
  endif()
  list(TRANSFORM M_SUPPORT PREPEND ${PROJECT_SOURCE_DIR}/tests/support/)
  add_executable(${name}_tests ${tsrcs} ${PROJECT_SOURCE_DIR}/tests/support/test_installation.cpp
                 ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp ${M_SUPPORT})
  target_link_libraries(${name}_tests PRIVATE qk_testsupport ${M_DEPS})
  qk_discover_tests(${name}_tests)
endfunction()

# qk_self_contained(NAME header...): each named header of the calling folder compiles in a
# file of its own that includes nothing else (the object library NAME, built with
# everything), so that a header leaning on what another one includes fails the build.
function(qk_self_contained name)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(srcs "")
  foreach(header IN LISTS ARGN)
    string(REGEX REPLACE "\\.h$" ".cpp" src ${CMAKE_CURRENT_BINARY_DIR}/alone/${header})
    file(CONFIGURE OUTPUT ${src} CONTENT "#include \"${folder}/${header}\"\n" @ONLY)
    list(APPEND srcs ${src})
  endforeach()
  add_library(${name} OBJECT ${srcs})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()

# qk_fuzz(NAME SOURCE DEPS...): a libFuzzer target (QK_FUZZ, clang only). Every other native
# build with tests makes NAME_replay of the same source, which runs the files it is given
# as inputs (tests/support/fuzz_replay.cpp): each target compiles under every compiler and
# its warnings, and a crash found by fuzzing can be replayed under a debugger.
function(qk_fuzz name src)
  qk_listed(${src})
  if(NOT QK_FUZZ)
    if(QK_TESTS AND NOT CMAKE_CROSSCOMPILING)
      add_executable(${name}_replay ${src} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_replay.cpp)
      target_link_libraries(${name}_replay PRIVATE ${ARGN})
      target_include_directories(${name}_replay PRIVATE ${PROJECT_SOURCE_DIR})
      add_test(NAME ${name}_replay COMMAND ${name}_replay ${src})
      set_tests_properties(${name}_replay PROPERTIES LABELS fuzz_replay
                           ENVIRONMENT "QK_ROOT=${CMAKE_CURRENT_BINARY_DIR};QK_LOCAL=${CMAKE_CURRENT_BINARY_DIR};QK_LOG_NOKEY=1;QK_KEY=")
    endif()
    return()
  endif()
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARGN})
endfunction()

# Ends the configuration when a .cpp file of the named folders is in no target and no list.
function(qk_check_listed)
  get_property(listed GLOBAL PROPERTY QK_LISTED_SOURCES)
  set(dirs ${ARGN})
  foreach(dir IN LISTS dirs)
    get_property(targets DIRECTORY ${PROJECT_SOURCE_DIR}/${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "INTERFACE_LIBRARY")
        continue()
      endif()
      get_target_property(sources ${target} SOURCES)
      foreach(f IN LISTS sources)
        if(NOT f MATCHES "^\\$<")
          get_filename_component(path ${f} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR}/${dir})
          list(APPEND listed ${path})
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(missing "")
  foreach(dir IN LISTS dirs)
    # A check of the lists, not a build input: the build itself never globs.
    file(GLOB_RECURSE files ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
    foreach(f IN LISTS files)
      if(NOT f IN_LIST listed)
        file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${f})
        string(APPEND missing "  ${rel}\n")
      endif()
    endforeach()
  endforeach()
  if(missing)
    message(FATAL_ERROR "Source files that no CMakeLists.txt names (add each to its folder's lists):\n${missing}")
  endif()
endfunction()
