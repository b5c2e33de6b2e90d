# Installs the build into a fresh prefix, builds tests/consumer against it with
# find_package(QK) and runs it. Arguments: -DBUILD=<build dir> -DSRC=<source dir>
# -DWORK=<scratch dir>; for a Windows build also -DTOOLCHAIN=<toolchain file the build
# used> and -DEMULATOR=<program that runs Windows programs>. A Windows consumer is
# configured with the package's own copy of the toolchain file and nothing else.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
set(exe "")
if(TOOLCHAIN)
  set(exe ".exe")
endif()
foreach(f bin/Brimvale${exe} bin/qklog${exe} include/env/getopt.h include/env/env.h include/env/qkos.h
          include/env/qkos_net.h include/memory/report/allocvis.h include/log/logger.h include/string/String.h
          include/platform/process/process.h include/platform/version.h lib/cmake/QK/QKConfig.cmake)
  if(NOT EXISTS ${WORK}/prefix/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# Only the public headers are installed, and each includes nothing that is not.
file(GLOB_RECURSE headers RELATIVE ${WORK}/prefix/include ${WORK}/prefix/include/*.h)
foreach(h IN LISTS headers)
  if(h MATCHES "(^|/)(internal|detail|tests?)/|test")
    message(FATAL_ERROR "a header for the framework's own tests is installed: ${h}")
  endif()
  file(STRINGS ${WORK}/prefix/include/${h} includes REGEX "^#include \"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" inc "${line}")
    if(NOT EXISTS ${WORK}/prefix/include/${inc})
      message(FATAL_ERROR "installed header ${h} includes ${inc}, which is not installed")
    endif()
  endforeach()
endforeach()
# The version header tells the package's version.
file(STRINGS ${WORK}/prefix/include/platform/version.h header_version REGEX "^#define QK_VERSION \"")
file(STRINGS ${WORK}/prefix/lib/cmake/QK/QKConfigVersion.cmake package_version REGEX "^set\\(PACKAGE_VERSION \"")
string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" header_version "${header_version}")
string(REGEX REPLACE ".*\"([^\"]*)\".*" "\\1" package_version "${package_version}")
if(NOT header_version OR NOT header_version STREQUAL package_version)
  message(FATAL_ERROR "QK_VERSION \"${header_version}\" is not the package's version \"${package_version}\"")
endif()
set(package_args -DCMAKE_PREFIX_PATH=${WORK}/prefix)
if(TOOLCHAIN)
  get_filename_component(toolchain_name ${TOOLCHAIN} NAME)
  set(installed_toolchain ${WORK}/prefix/lib/cmake/QK/${toolchain_name})
  if(NOT EXISTS ${installed_toolchain})
    message(FATAL_ERROR "not installed: lib/cmake/QK/${toolchain_name}")
  endif()
  set(package_args -DCMAKE_TOOLCHAIN_FILE=${installed_toolchain})
endif()
# A component the package does not have: not found, naming it; an error with REQUIRED. An
# optional one that is unknown is only not found.
file(WRITE ${WORK}/components/CMakeLists.txt "cmake_minimum_required(VERSION 3.20)
project(qk_components LANGUAGES CXX)
find_package(QK \${QK_ASK})
message(STATUS \"QK_FOUND=\${QK_FOUND} QK_log_FOUND=\${QK_log_FOUND} QK_nosuch_FOUND=\${QK_nosuch_FOUND}\")
")
foreach(ask "COMPONENTS;log;nosuch" "REQUIRED;COMPONENTS;nosuch" "REQUIRED;COMPONENTS;log;OPTIONAL_COMPONENTS;nosuch")
  file(REMOVE_RECURSE ${WORK}/components/build)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK}/components -B ${WORK}/components/build -G Ninja
                          ${package_args} "-DQK_ASK=${ask}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(ask MATCHES "OPTIONAL")
    if(rc OR NOT out MATCHES "QK_FOUND=1 QK_log_FOUND=TRUE QK_nosuch_FOUND=FALSE")
      message(FATAL_ERROR "an unknown optional component must leave the package found: ${out} ${err}")
    endif()
    continue()
  endif()
  if(NOT err MATCHES "QK has no component nosuch; its components are platform, env, log")
    message(FATAL_ERROR "find_package(QK ${ask}) does not name the unknown component: ${out} ${err}")
  endif()
  if(ask MATCHES "REQUIRED")
    if(NOT rc)
      message(FATAL_ERROR "find_package(QK ${ask}) must fail: ${out}")
    endif()
  elseif(rc OR NOT out MATCHES "QK_FOUND=0 QK_log_FOUND=TRUE QK_nosuch_FOUND=FALSE")
    message(FATAL_ERROR "find_package(QK ${ask}) must leave QK_FOUND false: ${rc} ${out} ${err}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRC}/tests/consumer -B ${WORK}/build -G Ninja
                        ${package_args} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QK_ROOT=/r QK_LOCAL=/r QK_LOG_NOKEY=1
                        QK_LOG_LEVEL=MILESTONE ${EMULATOR} ${WORK}/build/consumer${exe}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(rc OR NOT out MATCHES "root=/r")
  message(FATAL_ERROR "the consumer ran wrong: ${rc} ${out}")
endif()
# The stack-trace engine comes with QK::qk, and the consumer's own frame has its file and
# line (on Windows only when the package gave the consumer the line data it reads).
if(NOT out MATCHES "trace=main\\(\\);" OR NOT out MATCHES "where=main\\.cpp:[1-9][0-9]*;")
  message(FATAL_ERROR "the consumer's trace is wrong: ${rc} ${out}")
endif()
# Its records carry its own program name (the process column, before the process id).
if(NOT err MATCHES "LoggerQK: [^\n]* consumer +[0-9]+ MILESTONE +consumer +[0-9]+ consumer ran")
  message(FATAL_ERROR "the consumer's record does not name it: ${err}")
endif()
# Without CMake: the pkg-config line compiles and links the same consumer (Linux).
if(NOT TOOLCHAIN)
  find_program(PKG_CONFIG pkg-config REQUIRED)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${WORK}/prefix/lib/pkgconfig
                          ${PKG_CONFIG} --cflags --libs qk
                  OUTPUT_VARIABLE pc_flags RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(rc)
    message(FATAL_ERROR "pkg-config --cflags --libs qk failed")
  endif()
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  file(MAKE_DIRECTORY ${WORK}/pc)
  execute_process(COMMAND c++ ${SRC}/tests/consumer/main.cpp ${pc_flags} -o ${WORK}/pc/consumer
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "building the consumer with pkg-config's line failed: ${pc_flags}\n${out}${err}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QK_ROOT=/r QK_LOCAL=/r QK_LOG_NOKEY=1
                          QK_LOG_LEVEL=MILESTONE ${WORK}/pc/consumer
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(rc OR NOT out MATCHES "root=/r" OR NOT out MATCHES "where=main\\.cpp:[1-9][0-9]*;" OR
     NOT err MATCHES "consumer +[0-9]+ MILESTONE +consumer +[0-9]+ consumer ran")
    message(FATAL_ERROR "the pkg-config consumer ran wrong: ${rc} ${out} ${err}")
  endif()
endif()
file(REMOVE_RECURSE ${WORK})
