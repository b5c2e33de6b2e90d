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
foreach(f bin/Brimvale${exe} bin/qklog${exe} include/env/getopt.h include/env/env.h include/log/logger.h include/string/String.h
          include/platform/process/process.h lib/cmake/QK/QKConfig.cmake)
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
set(package_args -DCMAKE_PREFIX_PATH=${WORK}/prefix)
if(TOOLCHAIN)
  get_filename_component(toolchain_name ${TOOLCHAIN} NAME)
  set(installed_toolchain ${WORK}/prefix/lib/cmake/QK/${toolchain_name})
  if(NOT EXISTS ${installed_toolchain})
    message(FATAL_ERROR "not installed: lib/cmake/QK/${toolchain_name}")
  endif()
  set(package_args -DCMAKE_TOOLCHAIN_FILE=${installed_toolchain})
endif()
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
file(REMOVE_RECURSE ${WORK})
