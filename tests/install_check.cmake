# Installs the build into a fresh prefix, builds tests/consumer against it with
# find_package(QK) and runs it. Arguments: -DBUILD=<build dir> -DSRC=<source dir>
# -DWORK=<scratch dir>.
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
foreach(f bin/Brimvale include/env/env.h include/log/logger.h include/string/String.h
          include/platform/process.h lib/cmake/QK/QKConfig.cmake)
  if(NOT EXISTS ${WORK}/prefix/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRC}/tests/consumer -B ${WORK}/build -G Ninja
                        -DCMAKE_PREFIX_PATH=${WORK}/prefix RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QK_ROOT=/r QK_LOCAL=/r QK_LOG_NOKEY=1 ${WORK}/build/consumer
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(rc OR NOT out MATCHES "root=/r" OR NOT out MATCHES "trace=main\\(\\);")
  message(FATAL_ERROR "the consumer ran wrong: ${rc} ${out}")
endif()
file(REMOVE_RECURSE ${WORK})
