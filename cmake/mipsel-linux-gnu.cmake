# The board: MIPS32r2 little-endian Linux, cross-built with Debian's
# mipsel-linux-gnu GCC and run here under qemu-mipsel (scripts/board).
#
# FW_BOARD_SYSROOT is the folder that holds the board's libraries beyond what
# the cross compiler links against (OpenSSL, header-only packages, GoogleTest
# built for the board) and the run-time libraries the emulator loads.
# scripts/board fills it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
# The board's flash and RAM are small: user space is MIPS16e code (half-size
# instructions, a standard part of the MIPS32r2 cores such boards carry),
# which the linker joins with the MIPS32 C library. FW_BOARD_MIPS16=OFF builds
# plain MIPS32 code for a core without it. No .pdr sections: they describe
# frames for debuggers only and stay in a stripped file.
option(FW_BOARD_MIPS16 "Build the board's user space as MIPS16e code" ON)
set(FW_BOARD_FLAGS "-march=mips32r2 -Wa,-mno-pdr")
if(FW_BOARD_MIPS16)
  string(APPEND FW_BOARD_FLAGS " -mips16 -minterlink-compressed")
endif()
set(CMAKE_C_FLAGS_INIT "${FW_BOARD_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${FW_BOARD_FLAGS}")
# A MIPS program puts every global symbol its code reaches through the GOT in
# its dynamic symbol table; those of the static libraries it is made of stay
# inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--exclude-libs,ALL")

# try_compile runs in a project of its own: hand it the sysroot too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FW_BOARD_SYSROOT FW_BOARD_MIPS16)
if(NOT FW_BOARD_SYSROOT)
  set(FW_BOARD_SYSROOT "$ENV{FW_BOARD_SYSROOT}")
endif()
if(NOT FW_BOARD_SYSROOT)
  message(FATAL_ERROR "FW_BOARD_SYSROOT is not set: scripts/board prepares the board's sysroot")
endif()

set(CMAKE_FIND_ROOT_PATH ${FW_BOARD_SYSROOT} /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian keeps a few configuration headers (OpenSSL's) in the multiarch folder.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${FW_BOARD_SYSROOT}/usr/include/mipsel-linux-gnu)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${FW_BOARD_SYSROOT}/usr/include/mipsel-linux-gnu)

# Tests run under the emulator, on the board's run-time libraries (C, C++,
# atomics, OpenSSL, and the C library's iconv modules) from the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel -L ${FW_BOARD_SYSROOT})
