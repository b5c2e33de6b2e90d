# qk_module(NAME [DEPS lib...] [EXCLUDE file...] [SOURCES file...]): the static library
# qk_<NAME> built from every .cpp in the calling folder except tests (*_test.cpp), fuzz
# targets (*_fuzz.cpp) and the files named by EXCLUDE; with SOURCES, from those files only
# (a second library of a folder, such as qk_allocvis beside qk_memory). DEPS names the
# modules of the layers below (platform <- env <- log <- memory <- string <- diag); the
# layering check (cmake/check_layering.cmake) keeps every include pointing downwards, so
# no module needs a cycle on the link line.
set(QK_MODULES "" CACHE INTERNAL "")
function(qk_module name)
  cmake_parse_arguments(M "" "" "DEPS;EXCLUDE;SOURCES" ${ARGN})
  if(M_SOURCES)
    list(TRANSFORM M_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/ OUTPUT_VARIABLE srcs)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    list(FILTER srcs EXCLUDE REGEX "_(test|fuzz)\\.cpp$")
    foreach(excluded IN LISTS M_EXCLUDE)
      list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
    endforeach()
  endif()
  add_library(qk_${name} STATIC ${srcs})
  target_include_directories(qk_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(qk_${name} PUBLIC qk_platform ${M_DEPS})
  set(QK_MODULES ${QK_MODULES} qk_${name} CACHE INTERNAL "")
endfunction()

# qk_module_tests(NAME [DEPS lib...] [SUPPORT file...]): the test program <NAME>_tests from
# every *_test.cpp beside the module's code (and the named support files of tests/support),
# registered with CTest test by test.
function(qk_module_tests name)
  cmake_parse_arguments(M "" "" "DEPS;SUPPORT" ${ARGN})
  file(GLOB tsrcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  # Tests of one system's behaviour only: *_posix_test.cpp and *_win32_test.cpp.
  if(WIN32)
    list(FILTER tsrcs EXCLUDE REGEX "_posix_test\\.cpp$")
  else()
    list(FILTER tsrcs EXCLUDE REGEX "_win32_test\\.cpp$")
  endif()
  if(NOT QK_TESTS OR NOT tsrcs)
    return()
  endif()
  list(TRANSFORM M_SUPPORT PREPEND ${PROJECT_SOURCE_DIR}/tests/support/)
  add_executable(${name}_tests ${tsrcs} ${PROJECT_SOURCE_DIR}/tests/support/test_installation.cpp
                 ${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp ${M_SUPPORT})
  target_link_libraries(${name}_tests PRIVATE qk_testsupport ${M_DEPS})
  qk_discover_tests(${name}_tests)
endfunction()

# qk_fuzz(NAME SOURCE DEPS...): a libFuzzer target, clang only.
function(qk_fuzz name src)
  if(NOT QK_FUZZ)
    return()
  endif()
  add_executable(${name} ${src})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARGN})
endfunction()
