# Builds for 64-bit ARM (Raspberry Pi OS bookworm 64-bit, Debian 12 arm64) on a Debian amd64
# machine, with Debian's cross compiler and the arm64 libraries installed beside the machine's
# own (multiarch). The toolkit's code generators (moc, uic, rcc) and wayland-scanner are the
# machine's; programs built here run under qemu-user, which finds the arm64 libraries itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")

# Libraries, headers and CMake packages from the arm64 folders; programs from the machine.
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the arm64 programs through this.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)

# The package says which machines it is for (CPack would name the build machine's).
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
