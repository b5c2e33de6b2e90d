cmake_minimum_required(VERSION 3.20)
# Checks every source file's framework includes against the layer order
#   platform <- env <- log <- memory <- string <- diag <- programs (launcher, qklog, examples)
# and that only platform/ includes operating-system headers.
# Usage: cmake -DROOT=<source dir> -P check_layering.cmake
# Ends with an error naming every include that points the wrong way.
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

# A module may include its own headers and those of every module listed before it.
set(layers platform env log memory string diag)
set(programs launcher qklog examples tests bench)
set(os_headers "windows\\.h|winsock2?\\.h|ws2tcpip\\.h|dbghelp\\.h|psapi\\.h|tlhelp32\\.h|unistd\\.h|sys/|fcntl\\.h|pthread\\.h|dlfcn\\.h|netdb\\.h|netinet/|arpa/|spawn\\.h|pwd\\.h|grp\\.h|syslog\\.h|iconv\\.h|execinfo\\.h|elfutils/|dwarf\\.h|libdw|ucontext\\.h|semaphore\\.h|dirent\\.h")

# Files that live in a module's folder but belong to a higher layer, with the modules they
# may include besides their folder's. The allocator report (memory/allocvis.*) sits above
# String (it upper-cases names and lists String representations) though it lives beside
# the allocators; it is built as a library of its own, qk_allocvis, above qk_string.
set(exception_files "^memory/allocvis(_test)?\\.(h|cpp)$")
set(exception_allowed string)

set(problems "")
foreach(module IN LISTS layers programs)
  if(NOT IS_DIRECTORY ${ROOT}/${module})
    continue()
  endif()
  list(FIND layers ${module} rank)
  if(rank EQUAL -1)
    set(allowed ${layers} ${programs})
  else()
    list(SUBLIST layers 0 ${rank} allowed)
    list(APPEND allowed ${module})
  endif()
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${module}/*.h ${ROOT}/${module}/*.cpp)
  foreach(f IN LISTS files)
    # Test programs and fuzz targets may also use the test support and OS headers of their own.
    set(is_test FALSE)
    if(f MATCHES "_(test|fuzz)\\.cpp$" OR f MATCHES "^(tests|bench)/")
      set(is_test TRUE)
    endif()
    file(STRINGS ${ROOT}/${f} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z_]+)/")
        set(target ${CMAKE_MATCH_1})
        list(FIND allowed ${target} ok)
        if(ok EQUAL -1 AND f MATCHES "${exception_files}" AND target IN_LIST exception_allowed)
          set(ok 0)
        endif()
        if(ok EQUAL -1 AND NOT (is_test AND target STREQUAL "tests"))
          string(APPEND problems "  ${f}: ${module} may not include ${target}: ${line}\n")
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<(${os_headers})")
        if(NOT module STREQUAL "platform" AND NOT is_test AND NOT module IN_LIST programs)
          string(APPEND problems "  ${f}: only platform/ includes operating-system headers: ${line}\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "includes against the layer order:\n${problems}")
endif()
message(STATUS "layering: every include follows platform <- env <- log <- memory <- string <- diag")
