# Sets `actual` to the dynamic symbols LIBRARY defines whose nm type letter
# matches TYPES (a regex character class), for the symbol checks.
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
  if(line MATCHES "^[0-9a-fA-F]+ ${TYPES} ([^ ]+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  endif()
endforeach()
