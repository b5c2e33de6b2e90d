# The layering check must fail on a wrong arrow: copies the module folders into a scratch
# folder, plants an include of String in the logger (log sits below string) and an OS
# header in the settings module, and wrong arrows around the allocator report, a layer
# inside memory/ above string: String and the report in the allocators, the stack-trace
# engine in the report. Expects the check to name each.
# Arguments: -DSRC=<source dir> -DWORK=<scratch dir>.
file(REMOVE_RECURSE ${WORK})
foreach(module platform env log memory string diag launcher)
  if(IS_DIRECTORY ${SRC}/${module})
    file(COPY ${SRC}/${module} DESTINATION ${WORK})
  endif()
endforeach()
file(APPEND ${WORK}/log/name.cpp "#include \"string/String.h\"\n")
file(APPEND ${WORK}/env/env.cpp "#include <unistd.h>\n")
file(APPEND ${WORK}/memory/allocator.cpp "#include \"string/String.h\"\n")
file(APPEND ${WORK}/memory/tracker.h "#include \"memory/report/allocvis.h\"\n")
file(APPEND ${WORK}/memory/report/allocvis.cpp "#include \"diag/stacktrace.h\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${SRC}/cmake/check_layering.cmake
                RESULT_VARIABLE rc ERROR_VARIABLE err)
file(REMOVE_RECURSE ${WORK})
if(rc EQUAL 0)
  message(FATAL_ERROR "the layering check passed a tree with wrong includes")
endif()
foreach(expected "log/name.cpp: log may not include string" "env/env.cpp: only platform/"
         "memory/allocator.cpp: memory may not include string"
         "memory/tracker.h: memory may not include memory/report"
         "memory/report/allocvis.cpp: memory/report may not include diag")
  string(FIND "${err}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the layering check did not name the planted include \"${expected}\":\n${err}")
  endif()
endforeach()
# Nothing else is named: the report's own includes of String follow its layer's order.
string(REGEX MATCHALL "may not include|only platform/ includes" named "${err}")
list(LENGTH named named_count)
if(NOT named_count EQUAL 5)
  message(FATAL_ERROR "the layering check named ${named_count} includes, not the 5 planted:\n${err}")
endif()
