# 64-bit Windows (x64), cross-built on Debian with MinGW-w64 (package g++-mingw-w64-x86-64).
# As for 32-bit Windows (cmake/toolchain-mingw32.cmake) only the native library and the jar are
# built, and the tests read the DLL's export table and the jar. scripts/install-deps.sh mingw64
# installs the compiler.
#
#   cmake -S . -B build/windows-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# Windows x64 is LLP64: CK_ULONG (unsigned long) has 32 bits while pointers and handles of the
# JVM have 64, and the PKCS#11 records are packed to 1 byte as on 32-bit Windows
# (native/include/pkcs11/check/win32_sizes.h checks their sizes for both). Native methods have
# one calling convention there: the DLL exports their plain JNI names, undecorated.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VORLEN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${VORLEN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLEN_MINGW_PREFIX}-windres)

# Libraries and headers from the MinGW sysroot only; programs (javac, jar, java) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VORLEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
