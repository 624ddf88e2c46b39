# Cross build for AArch64 Linux with Debian's cross toolchain
# (crossbuild-essential-arm64); programs run through qemu-user, so CTest and
# GoogleTest's discovery run the target's binaries transparently.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross sysroot, and / for Debian's multiarch packages (libfoo-dev:arm64
# puts libraries in /usr/lib/aarch64-linux-gnu).
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# There is no binfmt registration here: everything runs through the emulator.
# Programs run on Debian's arm64 C library (libc6:arm64, which the arm64
# -dev packages bring) where it is installed: under this emulator a program
# on the cross toolchain's own copy hangs as soon as it starts a thread.
find_program(TWINCAM_QEMU_AARCH64 qemu-aarch64)
if(TWINCAM_QEMU_AARCH64)
    if(EXISTS /lib/ld-linux-aarch64.so.1)
        set(CMAKE_CROSSCOMPILING_EMULATOR "${TWINCAM_QEMU_AARCH64};-L;/")
    else()
        set(CMAKE_CROSSCOMPILING_EMULATOR "${TWINCAM_QEMU_AARCH64};-L;/usr/aarch64-linux-gnu")
    endif()
endif()

# pkg-config answers for the target's packages only: without this it finds
# the build machine's .pc files and hands their libraries to the cross linker.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
