# 32-bit Linux (i386) on an x86-64 Debian machine: g++ -m32 (package g++-multilib) and the i386
# JDK (openjdk-17-jdk-headless:i386), whose JNI headers the library is built against and whose
# 32-bit `java` runs the tests. scripts/install-deps.sh i386 installs both.
#
#   cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# The i386 JDK: FindJNI takes its headers from here and FindJava its tools, the `java` that
# runs the tests among them (VORLEN_TEST_JAVA in cmake/Tests.cmake).
set(VORLEN_I386_JAVA_HOME /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "The i386 JDK")
set(JAVA_HOME ${VORLEN_I386_JAVA_HOME})
set(JAVA_INCLUDE_PATH ${VORLEN_I386_JAVA_HOME}/include CACHE PATH "")
set(JAVA_INCLUDE_PATH2 ${VORLEN_I386_JAVA_HOME}/include/linux CACHE PATH "")
