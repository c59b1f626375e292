# 64-bit Linux on ARM (aarch64), cross-built on an x86-64 Debian machine: clang for the target
# aarch64-linux-gnu, linking with lld against the arm64 C and C++ libraries installed through
# multiarch (libc6-dev:arm64, libstdc++-12-dev:arm64); the arm64 JDK
# (openjdk-17-jdk-headless:arm64), whose JNI headers the library is built against and whose
# `java` runs the tests, under qemu-aarch64 (package qemu-user) with the arm64 libraries found
# under / (-L /). scripts/install-deps.sh aarch64 installs all of them.
#
# Not Debian's g++-aarch64-linux-gnu: it conflicts with g++-multilib, which the i386 build needs
# (gcc-multilib declares a conflict with every gcc cross compiler), and both builds run in one
# test run on one machine.
#
#   cmake -S . -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
#
# javac and jar are the host JDK's (CMakeLists.txt finds it): bytecode does not depend on the
# processor. On an arm64 machine, build natively instead (no toolchain file).

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-fuse-ld=lld")

# What runs an arm64 program here: ctest starts the native test programs through it, and
# cmake/Tests.cmake writes the script that starts the test JVM with it.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)

# The arm64 JDK: FindJNI takes its headers and libjvm from here, given as they are.
set(VORLEN_AARCH64_JAVA_HOME /usr/lib/jvm/java-17-openjdk-arm64 CACHE PATH "The arm64 JDK")
set(JAVA_INCLUDE_PATH ${VORLEN_AARCH64_JAVA_HOME}/include CACHE PATH "")
set(JAVA_INCLUDE_PATH2 ${VORLEN_AARCH64_JAVA_HOME}/include/linux CACHE PATH "")
set(JAVA_JVM_LIBRARY ${VORLEN_AARCH64_JAVA_HOME}/lib/server/libjvm.so CACHE FILEPATH "")
set(VORLEN_TEST_JAVA ${VORLEN_AARCH64_JAVA_HOME}/bin/java CACHE FILEPATH "The java that runs the tests")
