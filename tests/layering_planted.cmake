# The layering check must fail on a wrong arrow: copies the module folders into a scratch
# folder, plants an include of String in the logger (log sits below string) and an OS
# header in the settings module, and expects the check to name both.
# Arguments: -DSRC=<source dir> -DWORK=<scratch dir>.
file(REMOVE_RECURSE ${WORK})
foreach(module platform env log memory string diag launcher)
  if(IS_DIRECTORY ${SRC}/${module})
    file(COPY ${SRC}/${module} DESTINATION ${WORK})
  endif()
endforeach()
file(APPEND ${WORK}/log/name.cpp "#include \"string/String.h\"\n")
file(APPEND ${WORK}/env/env.cpp "#include <unistd.h>\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${SRC}/cmake/check_layering.cmake
                RESULT_VARIABLE rc ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORK})
if(rc EQUAL 0)
  message(FATAL_ERROR "the layering check passed a tree with wrong includes")
endif()
if(NOT err MATCHES "log/name.cpp: log may not include string" OR NOT err MATCHES "env/env.cpp: only platform/")
  message(FATAL_ERROR "the layering check did not name the planted includes:\n${err}")
endif()
