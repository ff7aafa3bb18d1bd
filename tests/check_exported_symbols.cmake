# Compares the dynamic symbols that LIBRARY defines with the export names of
# DEF plus the memory functions, the message-sink setter and the vector
# level functions.
set(TYPES "[TtWwDdBbRr]")
include(${CMAKE_CURRENT_LIST_DIR}/defined_symbols.cmake)

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
