# The test module, the Java tests (JUnit 5 from Debian's junit5 package) and the native test
# programs, all registered with ctest. Every JVM runs with -Xcheck:jni, and any JNI warning,
# sanitizer report or UBSan runtime error in the output fails the test.

# The platform folder of the jar, checked by the JVM that runs the tests (cmake/CheckJarPlatform.cmake).
# Where that JVM is not the host's, the host's also checks it, given the os.name and os.arch that
# the target's JVM reports (label "host": it runs even where the target's JVM cannot).
function(vorlen_add_platform_tests test_jvm)
  if(test_jvm)
    add_test(NAME platform.jar_folder
      COMMAND ${CMAKE_COMMAND} -DJAR=${VORLEN_JAR} -DJAVA=${test_jvm}
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckJarPlatform.cmake)
    set_tests_properties(platform.jar_folder PROPERTIES LABELS platform TIMEOUT 300)
  endif()
  if(NOT test_jvm STREQUAL Java_JAVA_EXECUTABLE)
    add_test(NAME platform.jar_folder.host
      COMMAND ${CMAKE_COMMAND} -DJAR=${VORLEN_JAR} -DJAVA=${Java_JAVA_EXECUTABLE}
              "-DOS_NAME=${VORLEN_JVM_OS_NAME}" "-DOS_ARCH=${VORLEN_JVM_OS_ARCH}"
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckJarPlatform.cmake)
    set_tests_properties(platform.jar_folder.host PROPERTIES LABELS "platform;host" TIMEOUT 120)
  endif()
endfunction()

# The Windows cross build runs no JVM: its tests read the DLL's export table and the jar.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # Every native method of PKCS11Impl, under the name the JVM of the DLL's width looks up (the
  # standard-call name on 32-bit Windows, the plain JNI name on x64), derived from the compiled
  # class.
  add_test(NAME windows.exports
    COMMAND ${Java_JAVA_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/Win32Exports.java
            ${VORLEN_CLASSES} ${CMAKE_OBJDUMP} $<TARGET_FILE:vorlenpkcs11>)
  set_tests_properties(windows.exports PROPERTIES LABELS "windows;host" TIMEOUT 120)
  vorlen_add_platform_tests("")
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
set(VORLEN_TEST_COMPILE_CP "${VORLEN_JAR}:${VORLEN_PROVIDER_JAR}:${JUNIT_API}:${JUNIT_PARAMS}:${JUNIT_APIGUARDIAN}:${JUNIT_OPENTEST4J}")
add_custom_command(
  OUTPUT ${VORLEN_TEST_STAMP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VORLEN_TEST_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORLEN_TEST_CLASSES}
  COMMAND ${Java_JAVAC_EXECUTABLE} --release 17 -Xlint:all -Xlint:-serial -Werror -encoding UTF-8
          -cp ${VORLEN_TEST_COMPILE_CP} -d ${VORLEN_TEST_CLASSES}
          ${VORLEN_TEST_JAVA_SOURCES} ${TESTMODULE_JAVA_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${VORLEN_TEST_STAMP}
  DEPENDS ${VORLEN_TEST_JAVA_SOURCES} ${TESTMODULE_JAVA_SOURCES} ${VORLEN_JAR} ${VORLEN_PROVIDER_JAR}
  COMMENT "Compiling the Java tests"
  VERBATIM)
add_custom_target(vorlen_java_tests ALL DEPENDS ${VORLEN_TEST_STAMP}
  vorlentestmodule vorlentestmodule2 vorlentestmodule3 vorlentestmodule_v3 vorlentestmodule_nogfl vorlentestcontrol)
# The jar's rule must run in one target only: a parallel build would otherwise run it twice.
add_dependencies(vorlen_java_tests vorlen_jar vorlen_provider_jar)

# ---- how a test JVM runs ----
# The JVM must have the library's width and processor: the i386 build runs the i386 JDK's java
# (cmake/toolchain-i386.cmake sets VORLEN_TEST_JAVA), the aarch64 build the arm64 JDK's, under
# the toolchain's CMAKE_CROSSCOMPILING_EMULATOR (qemu-aarch64). VORLEN_TEST_JVM is the one command
# that starts a test JVM, for ctest and for the tests that start JVMs of their own: under an
# emulator a script in the build tree, written here.
set(VORLEN_TEST_JAVA "${Java_JAVA_EXECUTABLE}" CACHE FILEPATH "The java that runs the tests")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(VORLEN_TEST_JVM ${CMAKE_BINARY_DIR}/test-java)
  # The JVM starts programs (the system's tools) through its helper jspawnhelper by default: a
  # program of the target, which the kernel cannot start without a binfmt_misc registration.
  # FORK makes the JVM's emulated process start them itself; they are the host's own.
  set(vorlen_launcher "")
  foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR ITEMS ${VORLEN_TEST_JAVA}
               -Djdk.lang.Process.launchMechanism=FORK)
    string(APPEND vorlen_launcher "'${word}' ")
  endforeach()
  file(WRITE ${VORLEN_TEST_JVM} "#!/bin/sh\n# The test JVM, under the emulator (cmake/Tests.cmake)\nexec ${vorlen_launcher}\"$@\"\n")
  file(CHMOD ${VORLEN_TEST_JVM} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
else()
  set(VORLEN_TEST_JVM ${VORLEN_TEST_JAVA})
endif()
vorlen_add_platform_tests(${VORLEN_TEST_JVM})
# An emulated JVM is many times slower: its tests get longer time limits.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(VORLEN_TIMEOUT_SCALE 4)
else()
  set(VORLEN_TIMEOUT_SCALE 1)
endif()
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

# What an emulated tree cannot run, one line each in not-run.txt, which scripts/test.sh prints:
# a JVM started by a test JVM by its own path (the demo restarts itself) is a program of the
# target, which the kernel starts only where the emulator is registered with binfmt_misc.
set(VORLEN_EMULATOR_PROPERTY "")
file(REMOVE ${CMAKE_BINARY_DIR}/not-run.txt)
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 vorlen_emulator)
  get_filename_component(vorlen_emulator ${vorlen_emulator} NAME)
  set(vorlen_binfmt /proc/sys/fs/binfmt_misc/${vorlen_emulator})
  set(vorlen_registered FALSE)
  if(EXISTS ${vorlen_binfmt})
    file(STRINGS ${vorlen_binfmt} vorlen_binfmt_state LIMIT_COUNT 1)
    if(vorlen_binfmt_state STREQUAL "enabled")
      set(vorlen_registered TRUE)
    endif()
  endif()
  if(NOT vorlen_registered)
    set(VORLEN_EMULATOR_PROPERTY -Dvorlen.jvm.emulator=${vorlen_emulator})
    file(WRITE ${CMAKE_BINARY_DIR}/not-run.txt
      "java.CliDemoTest: 2 of its 3 cases not run: the demo program restarts its JVM by the "
      "executable's path, a program for ${CMAKE_SYSTEM_PROCESSOR} that this kernel cannot start "
      "(${vorlen_emulator} has no binfmt_misc registration here)\n"
      "java.RealProviderTest: its keytool case not run, for the same reason (keytool is a "
      "program of the target)\n"
      "java.JniFaultSweepTest: its start-up case not run, for the same reason (it starts JVMs "
      "of its own)\n")
  endif()
endif()

set(VORLEN_TEST_PROPERTIES ${VORLEN_EMULATOR_PROPERTY} -Dvorlen.timeout.scale=${VORLEN_TIMEOUT_SCALE}
  -Dvorlen.testmodule=$<TARGET_FILE:vorlentestmodule>
  -Dvorlen.testmodule2=$<TARGET_FILE:vorlentestmodule2>
  -Dvorlen.testmodule.nogfl=$<TARGET_FILE:vorlentestmodule_nogfl>
  -Dvorlen.testmodule.v3=$<TARGET_FILE:vorlentestmodule_v3>
  -Dvorlen.testmodule.unload=$<TARGET_FILE:vorlentestmodule3>
  -Dvorlen.testcontrol.library=$<TARGET_FILE:vorlentestcontrol>
  -Dvorlen.build.dir=${CMAKE_BINARY_DIR}
  -Dvorlen.source.dir=${PROJECT_SOURCE_DIR}
  -Dvorlen.version=${VORLEN_VERSION}
  -Dzandrop.tesk.pkcs11.vorlen.cache=${CMAKE_BINARY_DIR}/library-cache)

# The JVMs every Java test runs on: the test JVM, and JDK 25's where VORLEN_JDK25_HOME names one
# (not under the sanitizers): its tests are named jdk25.java.*, labelled "jdk25", run with
# native access granted to the class path, and fail on any warning in their output.
set(VORLEN_JDK25_HOME "" CACHE PATH "A JDK 25 whose JVM also runs the Java tests (empty: none)")
set(VORLEN_JVM_LEGS default)
set(VORLEN_LEG_JVM_default ${VORLEN_TEST_JVM})
set(VORLEN_LEG_OPTIONS_default "")
set(VORLEN_LEG_PREFIX_default "")
set(VORLEN_LEG_LABEL_default "")
set(VORLEN_LEG_FAIL_default "${VORLEN_FAIL_PATTERN}")
if(VORLEN_JDK25_HOME AND NOT VORLEN_SANITIZE)
  list(APPEND VORLEN_JVM_LEGS jdk25)
  set(VORLEN_LEG_JVM_jdk25 ${VORLEN_JDK25_HOME}/bin/java)
  set(VORLEN_LEG_OPTIONS_jdk25 --enable-native-access=ALL-UNNAMED)
  set(VORLEN_LEG_PREFIX_jdk25 "jdk25.")
  set(VORLEN_LEG_LABEL_jdk25 jdk25)
  set(VORLEN_LEG_FAIL_jdk25 "${VORLEN_FAIL_PATTERN}|WARNING: ")
endif()

# One ctest test per JUnit class and JVM, so that a crash names its class and tests run in parallel.
function(vorlen_add_junit_test class_name)
  set(options "")
  set(one LABEL TIMEOUT)
  set(multi EXTRA_JVM_OPTIONS)
  cmake_parse_arguments(T "${options}" "${one}" "${multi}" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${VORLEN_TIMEOUT_SCALE}")
  string(REGEX REPLACE ".*\\." "" short_name ${class_name})
  foreach(leg IN LISTS VORLEN_JVM_LEGS)
    set(name ${VORLEN_LEG_PREFIX_${leg}}java.${short_name})
    add_test(NAME ${name}
      COMMAND ${VORLEN_LEG_JVM_${leg}} ${VORLEN_JVM_OPTIONS} ${VORLEN_LEG_OPTIONS_${leg}}
              ${VORLEN_TEST_PROPERTIES} ${T_EXTRA_JVM_OPTIONS}
              -jar ${JUNIT_CONSOLE} --disable-banner --details=tree --fail-if-no-tests
              --class-path ${VORLEN_JAR}:${VORLEN_PROVIDER_JAR}:${VORLEN_TEST_CLASSES}:${JUNIT_PARAMS}
              --select-class ${class_name})
    set_tests_properties(${name} PROPERTIES
      FAIL_REGULAR_EXPRESSION "${VORLEN_LEG_FAIL_${leg}}"
      ENVIRONMENT "${VORLEN_TEST_ENV}"
      TIMEOUT ${T_TIMEOUT}
      LABELS "java;${T_LABEL};${VORLEN_LEG_LABEL_${leg}}")
  endforeach()
endfunction()

# JVM options of single test classes. The memory test measures resident memory, so its Java
# heap is fixed and touched up front: what grows then is native.
set(VORLEN_JVM_OPTIONS_LongLoopTest -Xms128m -Xmx128m -XX:+AlwaysPreTouch)
set(VORLEN_LABEL_LongLoopTest hardening)
set(VORLEN_LABEL_ThreadStressTest hardening)
set(VORLEN_LABEL_HostileCallerTest hardening)
set(VORLEN_LABEL_HostileModuleSweepTest hardening)
set(VORLEN_LABEL_JniFaultSweepTest hardening)

# The hostile caller's number of calls and seed (empty: the test's own defaults, CI's short
# slice). A long run gets four hours instead of ten minutes.
set(VORLEN_FUZZ_CALLS "" CACHE STRING "Calls of the hostile caller (empty: its default)")
set(VORLEN_FUZZ_SEED "" CACHE STRING "Seed of the hostile caller (empty: its default)")
if(VORLEN_FUZZ_CALLS)
  list(APPEND VORLEN_JVM_OPTIONS_HostileCallerTest -Dvorlen.fuzz.calls=${VORLEN_FUZZ_CALLS})
  set(VORLEN_TIMEOUT_HostileCallerTest 14400)
endif()
if(VORLEN_FUZZ_SEED)
  list(APPEND VORLEN_JVM_OPTIONS_HostileCallerTest -Dvorlen.fuzz.seed=${VORLEN_FUZZ_SEED})
endif()

# Every *Test.java under the test tree is a JUnit class of its own.
foreach(source ${VORLEN_TEST_JAVA_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(name MATCHES "Test$" AND NOT name MATCHES "^(Real|Cli).*Test$")
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/java/src/test/java ${source})
    string(REGEX REPLACE "\\.java$" "" rel ${rel})
    string(REPLACE "/" "." class_name ${rel})
    vorlen_add_junit_test(${class_name} LABEL "${VORLEN_LABEL_${name}}"
      TIMEOUT "${VORLEN_TIMEOUT_${name}}" EXTRA_JVM_OPTIONS ${VORLEN_JVM_OPTIONS_${name}})
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
