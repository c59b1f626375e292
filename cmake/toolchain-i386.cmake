# 32-bit Linux (i386) on an x86-64 Debian machine: g++ -m32 (package g++-multilib) and the i386
# JDK (openjdk-17-jdk-headless:i386), whose JNI headers the library is built against and whose
# 32-bit `java` runs the tests. scripts/install-deps.sh i386 installs both.
#
#   cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i386.cmake
#
# javac and jar are the host JDK's (CMakeLists.txt finds it as for a native build): bytecode does
# not depend on the width, and a machine whose kernel cannot execute i386 programs still
# configures and builds this tree. Only the JVM that runs the tests is the i386 one.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_CXX_COMPILER g++)
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# The i386 JDK: FindJNI takes its headers and its libjvm from here (given as they are, so that
# nothing of it has to run), and its `java` runs the tests (VORLEN_TEST_JAVA, cmake/Tests.cmake).
set(VORLEN_I386_JAVA_HOME /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "The i386 JDK")
set(JAVA_INCLUDE_PATH ${VORLEN_I386_JAVA_HOME}/include CACHE PATH "")
set(JAVA_INCLUDE_PATH2 ${VORLEN_I386_JAVA_HOME}/include/linux CACHE PATH "")
set(JAVA_JVM_LIBRARY ${VORLEN_I386_JAVA_HOME}/lib/server/libjvm.so CACHE FILEPATH "")
set(VORLEN_TEST_JAVA ${VORLEN_I386_JAVA_HOME}/bin/java CACHE FILEPATH "The java that runs the tests")
