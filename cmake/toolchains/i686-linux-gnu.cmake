# 32-bit x86 Linux with the host's g++ and -m32 (Debian: lib32stdc++-12-dev,
# lib32gcc-12-dev, libc6-dev-i386). SSE2 arithmetic, as on x86-64 and in the
# i686 DLL: x87 extended precision would round the colour arithmetic
# differently.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
# The kernel's asm/ headers serve both widths (they choose by __i386__), but
# with -m32 GCC looks for them in /usr/include/asm, which gcc-multilib
# provides as a link; where it is missing (gcc-multilib conflicts with the
# aarch64 cross compiler), a link of the build's own takes its place.
if(NOT EXISTS /usr/include/asm AND NOT EXISTS /usr/include/i386-linux-gnu/asm
   AND EXISTS /usr/include/x86_64-linux-gnu/asm)
  set(QUILL32_ASM_LINK_DIR ${CMAKE_BINARY_DIR}/i386-asm)
  if(NOT EXISTS ${QUILL32_ASM_LINK_DIR}/asm)
    file(MAKE_DIRECTORY ${QUILL32_ASM_LINK_DIR})
    file(CREATE_LINK /usr/include/x86_64-linux-gnu/asm ${QUILL32_ASM_LINK_DIR}/asm SYMBOLIC)
  endif()
  string(APPEND CMAKE_C_FLAGS_INIT " -idirafter ${QUILL32_ASM_LINK_DIR}")
  string(APPEND CMAKE_CXX_FLAGS_INIT " -idirafter ${QUILL32_ASM_LINK_DIR}")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
