# GoogleTest for every build: the system's library natively, the Debian source package
# (QK_GTEST_SOURCE_DIR, /usr/src/googletest by default) compiled with the cross compiler for
# Windows.
set(QK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources, for the Windows builds")
if(WIN32)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main)
    target_compile_options(${t} PRIVATE -w)
    if(NOT TARGET GTest::${t})
      add_library(GTest::${t} ALIAS ${t})
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Natively every test case is its own CTest test. Under Wine each test program is one CTest
# test, since starting Wine once per case would take most of the run.
function(qk_discover_tests target)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 900)
  else()
    # Each case carries its program's name as label, so that a stage may run some programs.
    # The child halves of process-level tests (DISABLED_ChildScenario.*) are run by their
    # parents only: left out of CTest's list, they do not hide real skips among them.
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         TEST_FILTER "-DISABLED_ChildScenario.*"
                         PROPERTIES TIMEOUT 300 LABELS ${target})
  endif()
endfunction()
