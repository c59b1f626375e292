# The test module, the Java tests (JUnit 5 from Debian's junit5 package) and the native test
# programs, all registered with ctest. Every JVM runs with -Xcheck:jni, and any JNI warning,
# sanitizer report or UBSan runtime error in the output fails the test.

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
  vorlentestmodule vorlentestmodule2 vorlentestmodule3 vorlentestmodule_nogfl vorlentestcontrol)

# ---- how a test JVM runs ----
set(VORLEN_TEST_ENV "")
set(VORLEN_JVM_OPTIONS -Xcheck:jni -Xss4m)
if(VORLEN_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                  OUTPUT_VARIABLE VORLEN_LIBASAN OUTPUT_STRIP_TRAILING_WHITESPACE)
  # The JVM handles SIGSEGV itself (null checks, safepoints): ASan must leave it alone.
  set(VORLEN_TEST_ENV
    "LD_PRELOAD=${VORLEN_LIBASAN}"
    "ASAN_OPTIONS=handle_segv=0:allow_user_segv_handler=1:detect_leaks=0:abort_on_error=1:use_sigaltstack=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
set(VORLEN_FAIL_PATTERN
  "WARNING in native method|WARNING: JNI|FATAL ERROR in native method|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|UndefinedBehaviorSanitizer")

set(VORLEN_TEST_PROPERTIES
  -Dvorlen.testmodule=$<TARGET_FILE:vorlentestmodule>
  -Dvorlen.testmodule2=$<TARGET_FILE:vorlentestmodule2>
  -Dvorlen.testmodule.nogfl=$<TARGET_FILE:vorlentestmodule_nogfl>
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
    COMMAND ${Java_JAVA_EXECUTABLE} ${VORLEN_JVM_OPTIONS} ${VORLEN_TEST_PROPERTIES} ${T_EXTRA_JVM_OPTIONS}
            -jar ${JUNIT_CONSOLE} --disable-banner --details=tree --fail-if-no-tests
            --class-path ${VORLEN_JAR}:${VORLEN_TEST_CLASSES}:${JUNIT_PARAMS}
            --select-class ${class_name})
  set_tests_properties(java.${short_name} PROPERTIES
    FAIL_REGULAR_EXPRESSION "${VORLEN_FAIL_PATTERN}"
    ENVIRONMENT "${VORLEN_TEST_ENV}"
    TIMEOUT ${T_TIMEOUT}
    LABELS "java;${T_LABEL}")
endfunction()

# Every *Test.java under the test tree is a JUnit class of its own.
foreach(source ${VORLEN_TEST_JAVA_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(name MATCHES "Test$")
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/java/src/test/java ${source})
    string(REGEX REPLACE "\\.java$" "" rel ${rel})
    string(REPLACE "/" "." class_name ${rel})
    vorlen_add_junit_test(${class_name})
  endif()
endforeach()

# ---- native test programs ----
if(TARGET vorlen_testmodule_selftest)
  add_test(NAME native.testmodule_selftest COMMAND vorlen_testmodule_selftest $<TARGET_FILE:vorlentestmodule> $<TARGET_FILE:vorlentestmodule2>)
  set_tests_properties(native.testmodule_selftest PROPERTIES
    FAIL_REGULAR_EXPRESSION "${VORLEN_FAIL_PATTERN}" LABELS native)
endif()
