# Runs the path host natively (LINUX_HOST) and under Wine (WINDOWS_HOST,
# beside its QUILL32.DLL) on the samples and checks that every output of the
# Windows DLL is byte-identical to the Linux library's. With LEVELS (names
# separated by commas), the DLL
# runs once at each of those vector levels (QUILL32_VECTOR_LEVEL, which the
# DLL reads at load and reports to the debugger, here Wine's debugstr
# channel); the level it reports must be the one asked, or for avx2 on a
# processor without it the Linux library's best. WINEARCH (win32 for the i686
# DLL) is given to a new prefix. When Wine cannot be started at all (a 32-bit
# Wine on a kernel that runs no 32-bit programs), the test says SKIPPED.
foreach(var LINUX_HOST WINDOWS_HOST WINE SAMPLES WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
if(NOT DEFINED LEVELS)
  set(LEVELS best)
endif()
string(REPLACE "," ";" LEVELS "${LEVELS}")
file(REMOVE_RECURSE ${WORK}/linux)
file(MAKE_DIRECTORY ${WORK}/linux ${WORK}/prefix)

execute_process(COMMAND ${LINUX_HOST} ${SAMPLES} ${WORK}/linux RESULT_VARIABLE status
                OUTPUT_VARIABLE linux_out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the Linux path host failed (${status})")
endif()
string(REGEX MATCH "vector level: ([a-z0-9]+)" _ "${linux_out}")
set(linux_best ${CMAKE_MATCH_1})
file(GLOB outputs RELATIVE ${WORK}/linux ${WORK}/linux/*)
list(LENGTH outputs count)
if(count LESS 20)
  message(FATAL_ERROR "only ${count} outputs from the Linux host")
endif()

set(ENV{WINEPREFIX} ${WORK}/prefix)
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
set(ENV{DISPLAY} "")
if(DEFINED WINEARCH)
  set(ENV{WINEARCH} ${WINEARCH})
endif()
# A Wine that cannot start at all (a 32-bit one where the kernel runs no
# 32-bit programs) is a reason to skip, not a failure of the DLL.
execute_process(COMMAND ${WINE} --version RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  string(STRIP "${out}${err}" said)
  message(STATUS "SKIPPED: ${WINE} does not start here (${status}: ${said}); "
                 "this kernel may run no programs of its kind")
  return()
endif()
foreach(level IN LISTS LEVELS)
  set(wine_dir ${WORK}/wine-${level})
  file(REMOVE_RECURSE ${wine_dir})
  file(MAKE_DIRECTORY ${wine_dir})
  if(level STREQUAL "best")
    unset(ENV{QUILL32_VECTOR_LEVEL})
    set(ENV{WINEDEBUG} -all)
  else()
    set(ENV{QUILL32_VECTOR_LEVEL} ${level})
    set(ENV{WINEDEBUG} -all,+debugstr)
  endif()
  execute_process(COMMAND ${WINE} ${WINDOWS_HOST} Z:${SAMPLES} Z:${wine_dir}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 600)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the Windows path host failed under Wine at ${level} (${status}):\n${out}\n${err}")
  endif()
  if(NOT level STREQUAL "best")
    set(expected ${level})
    if(level STREQUAL "avx2" AND linux_best MATCHES "^(plain|sse2)$")
      set(expected ${linux_best})
    endif()
    if(NOT err MATCHES "QUILL32: vector level ([a-z0-9]+) \\(QUILL32_VECTOR_LEVEL=${level}\\)")
      message(FATAL_ERROR "the DLL did not report its vector level for ${level}:\n${err}")
    endif()
    if(NOT CMAKE_MATCH_1 STREQUAL expected)
      message(FATAL_ERROR "the DLL ran at ${CMAKE_MATCH_1} when ${expected} was expected")
    endif()
  endif()
  foreach(name IN LISTS outputs)
    if(NOT EXISTS ${wine_dir}/${name})
      message(FATAL_ERROR "the Windows host wrote no ${name} at ${level}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/linux/${name} ${wine_dir}/${name}
                    RESULT_VARIABLE differ)
    if(differ)
      message(FATAL_ERROR "${name} differs between the Windows DLL at ${level} and the Linux library")
    endif()
  endforeach()
  message(STATUS "${level}: ${count} outputs byte-identical under Wine and on Linux")
endforeach()
