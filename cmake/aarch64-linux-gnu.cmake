# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu, so
# that CI keeps the libraries and their tests buildable on ARM64 machines:
#   cmake -S . -B build-arm64 -G Ninja -DTAVEL_WITH_QT=OFF \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#     -DTAVEL_GTEST_SOURCE=/usr/src/googletest
# The programs it builds run on ARM64; with qemu-aarch64 (Debian's qemu-user)
# ctest runs them here too.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and headers of the target come from the cross sysroot and from
# Debian's multiarch folders (/usr/lib/aarch64-linux-gnu: the workbook
# libraries installed as libzip-dev:arm64, libpugixml-dev:arm64 and
# libxlsxwriter-dev:arm64); build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TAVEL_QEMU_AARCH64 qemu-aarch64)
if(TAVEL_QEMU_AARCH64)
  # The cross toolchain's own C and C++ libraries first: the multiarch ones
  # (/lib/aarch64-linux-gnu, which the workbook libraries bring in) choose
  # code paths that the emulator runs many times slower. The multiarch folder
  # after them, for the workbook libraries only it holds.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVEL_QEMU_AARCH64} -L /usr/aarch64-linux-gnu -E
      LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib:/usr/lib/aarch64-linux-gnu)
endif()
