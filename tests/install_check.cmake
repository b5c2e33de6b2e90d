# Installs the build into a fresh prefix, builds tests/consumer against it with
# find_package(QK) and runs it. Arguments: -DBUILD=<build dir> -DSRC=<source dir>
# -DWORK=<scratch dir>; for a Windows build also -DTOOLCHAIN=<toolchain file> and
# -DEMULATOR=<program that runs Windows programs>.
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
          include/platform/process.h lib/cmake/QK/QKConfig.cmake)
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
set(toolchain_arg "")
if(TOOLCHAIN)
  set(toolchain_arg -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRC}/tests/consumer -B ${WORK}/build -G Ninja
                        -DCMAKE_PREFIX_PATH=${WORK}/prefix ${toolchain_arg} RESULT_VARIABLE rc)
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
# The stack-trace engine comes with QK::qk (natively; Windows symbol lookups under the
# emulator are tested by the engine's own tests).
if(NOT TOOLCHAIN AND NOT out MATCHES "trace=main\\(\\);")
  message(FATAL_ERROR "the consumer ran wrong: ${rc} ${out}")
endif()
# Its records carry its own program name (the process column, before the process id).
if(NOT err MATCHES "LoggerQK: [^\n]* consumer +[0-9]+ MILESTONE +consumer +[0-9]+ consumer ran")
  message(FATAL_ERROR "the consumer's record does not name it: ${err}")
endif()
file(REMOVE_RECURSE ${WORK})
