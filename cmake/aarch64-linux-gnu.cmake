# Cross build for 64-bit Arm Linux with Debian's cross compiler. The tests run under qemu-user
# with Debian's arm64 C library, and so do the children they start, through binfmt_misc.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(NODESTART_BINFMT_HANDLER qemu-aarch64)
set(NODESTART_QEMU_LD_PREFIX /usr/aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR env QEMU_LD_PREFIX=${NODESTART_QEMU_LD_PREFIX} qemu-aarch64-static)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
