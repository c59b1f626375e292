# The test module, the Java tests (JUnit 5 from Debian's junit5 package) and the native test
# programs, all registered with ctest. Every JVM runs with -Xcheck:jni, and any JNI warning,
# sanitizer report or UBSan runtime error in the output fails the test.

# The Windows cross build runs no JVM: its one test reads the DLL's export table.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # Every native method of PKCS11Impl, under the standard-call name that a 32-bit JVM looks up;
  # the names and argument sizes are derived from the compiled class.
  add_test(NAME windows.exports
    COMMAND ${Java_JAVA_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/Win32Exports.java
            ${VORLEN_CLASSES} ${CMAKE_OBJDUMP} $<TARGET_FILE:vorlenpkcs11>)
  set_tests_properties(windows.exports PROPERTIES LABELS windows TIMEOUT 120)
  return()
endif()

find_file(JUNIT_CONSOLE junit-platform-console-standalone.jar PATHS /usr/share/java NO_DEFAULT_PATH)
find_file(JUNIT_API junit-jupiter-api.jar PATHS /usr/share/java NO_DEFAULT_PATH)
find_file(JUNIT_PARAMS junit-jupiter-params.jar PATHS /usr/share/java NO_DEFAULT_PATH)
find_file(JUNIT_APIGUARDIAN apiguardian-api.jar PATHS /usr/share/java NO_DEFAULT_PATH)
find_file(JUNIT_OPENTEST4J opentest4j.jar PATHS /usr/share/java NO_DEFAULT_PATH)
if(NOT JUNIT_CONSOLE OR NOT JUNIT_API OR NOT JUNIT_PARAMS)
  message(FATAL_ERROR "JUnit 5 not found in /usr/share/java: install Debian's junit5 package")
endif()

add_subdirectory(${PROJECT_SOURCE_DIR}/testmodule ${CMAKE_BINARY_DIR}/testmodule)

# ---- Java test classes ----
file(GLOB_RECURSE VORLEN_TEST_JAVA_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/java/src/test/java/*.java)
set(VORLEN_TEST_CLASSES ${CMAKE_BINARY_DIR}/java/test-classes)
set(VORLEN_TEST_STAMP ${CMAKE_BINARY_DIR}/java/test-classes.stamp)
set(VORLEN_TEST_COMPILE_CP "${VORLEN_JAR}:${JUNIT_API}:${JUNIT_PARAMS}:${JUNIT_APIGUARDIAN}:${JUNIT_OPENTEST4J}")
add_custom_command(
  OUTPUT ${VORLEN_TEST_STAMP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VORLEN_TEST_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORLEN_TEST_CLASSES}
  COMMAND ${Java_JAVAC_EXECUTABLE} --release 17 -Xlint:all -Xlint:-serial -Werror -encoding UTF-8
          -cp ${VORLEN_TEST_COMPILE_CP} -d ${VORLEN_TEST_CLASSES}
          ${VORLEN_TEST_JAVA_SOURCES} ${TESTMODULE_JAVA_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${VORLEN_TEST_STAMP}
  DEPENDS ${VORLEN_TEST_JAVA_SOURCES} ${TESTMODULE_JAVA_SOURCES} ${VORLEN_JAR}
  COMMENT "Compiling the Java tests"
  VERBATIM)
add_custom_target(vorlen_java_tests ALL DEPENDS ${VORLEN_TEST_STAMP}
  vorlentestmodule vorlentestmodule2 vorlentestmodule3 vorlentestmodule_v3 vorlentestmodule_nogfl vorlentestcontrol)
# The jar's rule must run in one target only: a parallel build would otherwise run it twice.
add_dependencies(vorlen_java_tests vorlen_jar)

# ---- how a test JVM runs ----
# The JVM must have the library's width: the 32-bit build runs the i386 JDK's java.
set(VORLEN_TEST_JAVA "${Java_JAVA_EXECUTABLE}" CACHE FILEPATH "The java that runs the tests")
set(VORLEN_TEST_ENV "")
set(VORLEN_JVM_OPTIONS -Xcheck:jni -Xss4m)
if(VORLEN_SANITIZE)
  # The runtimes of the build's width (its flags: -m32 names the 32-bit ones). The C++ runtime
  # is preloaded as well: the JVM does not link it, and ASan, finding no __cxa_throw to
  # intercept when it starts, would abort at the first C++ exception of a module loaded later.
  separate_arguments(vorlen_cxx_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${vorlen_cxx_flags} -print-file-name=libasan.so
                  OUTPUT_VARIABLE VORLEN_LIBASAN OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${vorlen_cxx_flags} -print-file-name=libstdc++.so
                  OUTPUT_VARIABLE VORLEN_LIBSTDCXX OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The JVM handles SIGSEGV itself (null checks, safepoints): ASan must leave it alone.
  set(VORLEN_TEST_ENV
    "LD_PRELOAD=${VORLEN_LIBASAN}:${VORLEN_LIBSTDCXX}"
    "ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=1:use_sigaltstack=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
set(VORLEN_FAIL_PATTERN
  "WARNING in native method|WARNING: JNI|FATAL ERROR in native method|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|UndefinedBehaviorSanitizer")

set(VORLEN_TEST_PROPERTIES
  -Dvorlen.testmodule=$<TARGET_FILE:vorlentestmodule>
  -Dvorlen.testmodule2=$<TARGET_FILE:vorlentestmodule2>
  -Dvorlen.testmodule.nogfl=$<TARGET_FILE:vorlentestmodule_nogfl>
  -Dvorlen.testmodule.v3=$<TARGET_FILE:vorlentestmodule_v3>
  -Dvorlen.testmodule.unload=$<TARGET_FILE:vorlentestmodule3>
  -Dvorlen.testcontrol.library=$<TARGET_FILE:vorlentestcontrol>
  -Dvorlen.build.dir=${CMAKE_BINARY_DIR})

# One ctest test per JUnit class, so that a crash names its class and tests run in parallel.
function(vorlen_add_junit_test class_name)
  set(options "")
  set(one LABEL TIMEOUT)
  set(multi EXTRA_JVM_OPTIONS)
  cmake_parse_arguments(T "${options}" "${one}" "${multi}" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  string(REGEX REPLACE ".*\\." "" short_name ${class_name})
  add_test(NAME java.${short_name}
    COMMAND ${VORLEN_TEST_JAVA} ${VORLEN_JVM_OPTIONS} ${VORLEN_TEST_PROPERTIES} ${T_EXTRA_JVM_OPTIONS}
            -jar ${JUNIT_CONSOLE} --disable-banner --details=tree --fail-if-no-tests
            --class-path ${VORLEN_JAR}:${VORLEN_TEST_CLASSES}:${JUNIT_PARAMS}
            --select-class ${class_name})
  set_tests_properties(java.${short_name} PROPERTIES
    FAIL_REGULAR_EXPRESSION "${VORLEN_FAIL_PATTERN}"
    ENVIRONMENT "${VORLEN_TEST_ENV}"
    TIMEOUT ${T_TIMEOUT}
    LABELS "java;${T_LABEL}")
endfunction()

# JVM options of single test classes. The memory test measures resident memory, so its Java
# heap is fixed and touched up front: what grows then is native.
set(VORLEN_JVM_OPTIONS_LongLoopTest -Xms128m -Xmx128m -XX:+AlwaysPreTouch)
set(VORLEN_LABEL_LongLoopTest hardening)
set(VORLEN_LABEL_ThreadStressTest hardening)
set(VORLEN_LABEL_HostileCallerTest hardening)
set(VORLEN_LABEL_HostileModuleSweepTest hardening)

# Every *Test.java under the test tree is a JUnit class of its own.
foreach(source ${VORLEN_TEST_JAVA_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(name MATCHES "Test$" AND NOT name MATCHES "^(Real|Cli).*Test$")
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/java/src/test/java ${source})
    string(REGEX REPLACE "\\.java$" "" rel ${rel})
    string(REPLACE "/" "." class_name ${rel})
    vorlen_add_junit_test(${class_name} LABEL "${VORLEN_LABEL_${name}}"
      EXTRA_JVM_OPTIONS ${VORLEN_JVM_OPTIONS_${name}})
  endif()
endforeach()

# Suites against real modules and of the demo program (Real*Test, Cli*Test): their own file.
include(${CMAKE_CURRENT_LIST_DIR}/RealModules.cmake)

# ---- native test programs ----
if(TARGET vorlen_testmodule_selftest)
  add_test(NAME native.testmodule_selftest COMMAND vorlen_testmodule_selftest $<TARGET_FILE:vorlentestmodule> $<TARGET_FILE:vorlentestmodule2>)
  set_tests_properties(native.testmodule_selftest PROPERTIES
    FAIL_REGULAR_EXPRESSION "${VORLEN_FAIL_PATTERN}" LABELS native)
endif()
