# Cross build for the camera's 32-bit ARM board with Debian's toolchain and
# multiarch armhf libraries. Test programs run through qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /usr/lib/arm-linux-gnueabihf /)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
find_program(QEMU_ARM qemu-arm)
if(QEMU_ARM)
  # The programs run against Debian's multiarch armhf libraries
  # (/lib/arm-linux-gnueabihf, brought by libglib2.0-dev:armhf). Pointing
  # qemu at the cross toolchain's own sysroot (-L /usr/arm-linux-gnueabihf)
  # would mix that sysroot's loader with the multiarch libc, and such a
  # program crashes as soon as it starts a thread or forks.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_ARM})
endif()
