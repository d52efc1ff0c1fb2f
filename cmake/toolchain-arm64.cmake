# Cross building for 64-bit ARM (arm64, aarch64) on an amd64 Debian machine with
# Debian's own multiarch packages: the cross compiler of crossbuild-essential-arm64,
# the :arm64 libraries and headers beside the machine's own (found through the
# multiarch folder, no sysroot), the machine's own Qt tools (moc, rcc), and
# qemu-user to run what is built. tools/cross-arm64.sh installs and uses it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Qt's build tools are the host's.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
# CTest runs the tests through the emulator; the arm64 loader and libraries are
# where the :arm64 packages put them.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
