# 64-bit ARM Linux with Debian's cross toolchain (g++-aarch64-linux-gnu,
# libc6-dev-arm64-cross); test programs run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# No fused multiply-add: every result rounded as on x86 (-ffp-contract=off
# is also set for all targets in CMakeLists.txt).
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(QUILL32_QEMU_AARCH64 qemu-aarch64)
if(QUILL32_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL32_QEMU_AARCH64} -L /usr/aarch64-linux-gnu)
endif()
