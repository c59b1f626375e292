# 32-bit Windows, cross-built on Debian with MinGW-w64 (package g++-mingw-w64-i686). Only the
# native library and the jar are built; nothing runs here (no tests need Windows: the export
# check reads the DLL with objdump). scripts/install-deps.sh mingw installs the compiler.
#
#   cmake -S . -B build/windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake
#
# The compiler is the "posix" flavour: its C++ library has std::mutex and std::thread, which the
# "win32" flavour of GCC 12 lacks. cmake/Platforms.cmake links its runtime statically, so the
# DLL needs nothing but system DLLs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VORLEN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_CXX_COMPILER ${VORLEN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLEN_MINGW_PREFIX}-windres)

# Libraries and headers from the MinGW sysroot only; programs (javac, jar, java) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VORLEN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
