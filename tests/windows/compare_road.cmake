# Runs the road host natively (LINUX_HOST) and under Wine (WINDOWS_HOST,
# beside its QUILL32.DLL) on the samples and checks that every output of the
# Windows DLL is byte-identical to the Linux library's.
foreach(var LINUX_HOST WINDOWS_HOST WINE SAMPLES WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK}/linux ${WORK}/wine)
file(MAKE_DIRECTORY ${WORK}/linux ${WORK}/wine ${WORK}/prefix)

execute_process(COMMAND ${LINUX_HOST} ${SAMPLES} ${WORK}/linux RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the Linux road host failed (${status})")
endif()

set(ENV{WINEPREFIX} ${WORK}/prefix)
set(ENV{WINEDEBUG} -all)
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
set(ENV{DISPLAY} "")
execute_process(COMMAND ${WINE} ${WINDOWS_HOST} Z:${SAMPLES} Z:${WORK}/wine
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 600)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the Windows road host failed under Wine (${status}):\n${out}\n${err}")
endif()

file(GLOB outputs RELATIVE ${WORK}/linux ${WORK}/linux/*)
list(LENGTH outputs count)
if(count LESS 20)
  message(FATAL_ERROR "only ${count} outputs from the Linux host")
endif()
foreach(name IN LISTS outputs)
  if(NOT EXISTS ${WORK}/wine/${name})
    message(FATAL_ERROR "the Windows host wrote no ${name}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/linux/${name} ${WORK}/wine/${name}
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${name} differs between the Windows DLL and the Linux library")
  endif()
endforeach()
message(STATUS "${count} outputs byte-identical under Wine and on Linux")
