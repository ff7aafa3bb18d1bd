# Compares the dynamic symbols that LIBRARY defines with the export names of
# DEF plus the memory functions, the message-sink setter and the vector
# level functions.
if(NOT NM)
  find_program(NM nm REQUIRED)
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(actual "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [TtWwDdBbRr] ([^ ]+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()

file(STRINGS ${DEF} def_lines REGEX "@[0-9]+")
set(expected GlobalAlloc GlobalLock GlobalUnlock GlobalFree GlobalSize QuillSetMessageSink
    QuillSetVectorLevel QuillVectorLevel QuillCheckFrame)
foreach(line IN LISTS def_lines)
  string(REGEX REPLACE "^[ \t]*([A-Za-z0-9_]+).*" "\\1" name "${line}")
  list(APPEND expected "${name}")
endforeach()

list(SORT actual)
list(SORT expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  actual:   ${actual}")
endif()
list(LENGTH actual count)
message(STATUS "${count} exported symbols, as expected")
