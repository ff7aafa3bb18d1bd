# The C example of quill32(3) compiles, as C and as C++, with warnings as
# errors, against the public headers. Run with -DPAGE=... -DCC=... -DCXX=...
# -DINCLUDES="dir;dir" -DWORK=...
file(READ ${PAGE} page)
if(NOT page MATCHES "\\.SH EXAMPLE.*\n\\.EX\n(.*)\n\\.EE")
  message(FATAL_ERROR "${PAGE}: no example between .EX and .EE")
endif()
set(code "${CMAKE_MATCH_1}")
# roff escapes: \- is a minus, \e a backslash.
string(REPLACE "\\-" "-" code "${code}")
string(REPLACE "\\e" "\\" code "${code}")
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/example.c "${code}\n")
file(WRITE ${WORK}/example.cpp "${code}\n")
set(flags -Wall -Wextra -Werror -fsyntax-only)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()
foreach(compile "${CC};-std=c99;${WORK}/example.c" "${CXX};-std=c++20;${WORK}/example.cpp")
  execute_process(COMMAND ${compile} ${flags} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the example of ${PAGE} does not compile (${compile}):\n${err}")
  endif()
endforeach()
