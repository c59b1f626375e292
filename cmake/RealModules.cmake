# Test suites against real PKCS#11 modules from Debian packages (label "real") and the tests of
# the demo program (labels "real" and "cli"). Included from Tests.cmake, which leaves every
# Real*Test and Cli*Test class to this file.
#
# The modules and tools are found here, at configure time, and reach the tests as system
# properties. One that is missing reaches them as an empty property: the suite that needs it
# fails with "install package X" rather than being skipped. scripts/install-deps.sh (role
# "test") installs all of them.
#
# Every such test JVM runs through cmake/with-temp-token-dir.sh, which gives it a temporary
# folder of its own, a SoftHSM2 configuration (SOFTHSM2_CONF) whose token folder is in it, and
# a HOME inside it; the folder is removed afterwards. A JVM cannot set its own environment,
# hence the wrapper.

# A module path given in the cache (-D, or cmake/Platforms.cmake for the 32-bit build) is taken
# as it is; find_file searches only for one that is not set.

set(VORLEN_MULTIARCH_LIB /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})

find_file(VORLEN_SOFTHSM2_MODULE libsofthsm2.so
  PATHS /usr/lib/softhsm ${VORLEN_MULTIARCH_LIB}/softhsm /usr/lib64/softhsm /usr/local/lib/softhsm
  NO_DEFAULT_PATH)
find_file(VORLEN_NSS_SOFTOKEN_MODULE libsoftokn3.so
  PATHS ${VORLEN_MULTIARCH_LIB} ${VORLEN_MULTIARCH_LIB}/nss /usr/lib64 /usr/lib /usr/lib/nss
  NO_DEFAULT_PATH)
find_file(VORLEN_P11KIT_TRUST_MODULE p11-kit-trust.so
  PATHS ${VORLEN_MULTIARCH_LIB}/pkcs11 /usr/lib64/pkcs11 /usr/lib/pkcs11
  NO_DEFAULT_PATH)
find_program(VORLEN_PKCS11_TOOL pkcs11-tool)
find_program(VORLEN_TRUST_TOOL trust)
find_program(VORLEN_P11TOOL p11tool)

# A path that was not found becomes an empty property (the test names the package).
function(vorlen_real_property out name value)
  if(value)
    set(${out} "-D${name}=${value}" PARENT_SCOPE)
  else()
    set(${out} "-D${name}=" PARENT_SCOPE)
  endif()
endfunction()
vorlen_real_property(p1 vorlen.real.softhsm2 "${VORLEN_SOFTHSM2_MODULE}")
vorlen_real_property(p2 vorlen.real.softokn "${VORLEN_NSS_SOFTOKEN_MODULE}")
vorlen_real_property(p3 vorlen.real.p11kittrust "${VORLEN_P11KIT_TRUST_MODULE}")
vorlen_real_property(p4 vorlen.real.pkcs11tool "${VORLEN_PKCS11_TOOL}")
vorlen_real_property(p5 vorlen.real.trust "${VORLEN_TRUST_TOOL}")
# The system's command-line tools are built for the system's width: at 32 bits they load the
# system's SoftHSM2 (cmake/Platforms.cmake names it), which reads the same token folder.
if(VORLEN_SOFTHSM2_TOOL_MODULE)
  vorlen_real_property(p6 vorlen.real.softhsm2.tool "${VORLEN_SOFTHSM2_TOOL_MODULE}")
else()
  vorlen_real_property(p6 vorlen.real.softhsm2.tool "${VORLEN_SOFTHSM2_MODULE}")
endif()
vorlen_real_property(p7 vorlen.real.p11tool "${VORLEN_P11TOOL}")
# libp11-kit's URI oracle (testmodule/uri), a program of the tree's platform: under an emulator
# the tests start it through the emulator, whose words are given joined by '|'.
vorlen_real_property(p8 vorlen.real.p11kituri "${VORLEN_P11KIT_URI_TOOL}")
string(JOIN "|" vorlen_uri_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
set(VORLEN_REAL_PROPERTIES ${p1} ${p2} ${p3} ${p4} ${p5} ${p6} ${p7} ${p8}
  "-Dvorlen.real.p11kituri.emulator=${vorlen_uri_emulator}"
  -Dvorlen.demo.jar=${VORLEN_DEMO_JAR})
foreach(missing VORLEN_SOFTHSM2_MODULE VORLEN_NSS_SOFTOKEN_MODULE VORLEN_P11KIT_TRUST_MODULE
                VORLEN_PKCS11_TOOL VORLEN_TRUST_TOOL VORLEN_P11TOOL)
  if(NOT ${missing})
    message(STATUS "Real-module tests: ${missing} not found; its suite will fail (scripts/install-deps.sh test installs it)")
  endif()
endforeach()

set(VORLEN_REAL_RUNNER ${PROJECT_SOURCE_DIR}/cmake/with-temp-token-dir.sh)

# Under the sanitizers the JVM runs with the ASan runtime preloaded. The real modules are C++ and
# throw exceptions inside themselves (SoftHSM2 does); ASan's interceptor of __cxa_throw finds the
# real function only if libstdc++ is loaded when the runtime starts, which a JVM does not do by
# itself: preload it too, after the runtime.
set(VORLEN_REAL_ENV ${VORLEN_TEST_ENV})
if(VORLEN_SANITIZE AND VORLEN_LIBASAN)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${CMAKE_CXX_FLAGS} -print-file-name=libstdc++.so
                  OUTPUT_VARIABLE VORLEN_LIBSTDCXX OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(VORLEN_LIBSTDCXX "${VORLEN_LIBSTDCXX}" REALPATH)
  list(TRANSFORM VORLEN_REAL_ENV REPLACE "^LD_PRELOAD=(.*)$" "LD_PRELOAD=\\1:${VORLEN_LIBSTDCXX}")
endif()

# The sanitizer environment is given to the JVM alone (through env), not to the wrapper; the
# tests pass it on to the demo program's JVM and strip it from the external tools they run.
# The tests that start a JVM of their own (the demo program's) start the one that runs them.
math(EXPR vorlen_real_timeout "600 * ${VORLEN_TIMEOUT_SCALE}")
function(vorlen_add_real_test class_name labels)
  string(REGEX REPLACE ".*\\." "" short_name ${class_name})
  foreach(leg IN LISTS VORLEN_JVM_LEGS)
    set(name ${VORLEN_LEG_PREFIX_${leg}}java.${short_name})
    add_test(NAME ${name}
      COMMAND ${VORLEN_REAL_RUNNER} env ${VORLEN_REAL_ENV}
              ${VORLEN_LEG_JVM_${leg}} ${VORLEN_JVM_OPTIONS} ${VORLEN_LEG_OPTIONS_${leg}}
              ${VORLEN_TEST_PROPERTIES} ${VORLEN_REAL_PROPERTIES} -Dvorlen.java=${VORLEN_LEG_JVM_${leg}}
              -jar ${JUNIT_CONSOLE} --disable-banner --details=tree --fail-if-no-tests
              --class-path ${VORLEN_JAR}:${VORLEN_TEST_CLASSES}:${JUNIT_PARAMS}
              --select-class ${class_name})
    set_tests_properties(${name} PROPERTIES
      FAIL_REGULAR_EXPRESSION "${VORLEN_LEG_FAIL_${leg}}"
      TIMEOUT ${vorlen_real_timeout}
      LABELS "java;${labels};${VORLEN_LEG_LABEL_${leg}}")
  endforeach()
endfunction()

foreach(source ${VORLEN_TEST_JAVA_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(name MATCHES "^(Real|Cli).*Test$")
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/java/src/test/java ${source})
    string(REGEX REPLACE "\\.java$" "" rel ${rel})
    string(REPLACE "/" "." class_name ${rel})
    if(name MATCHES "^Cli")
      vorlen_add_real_test(${class_name} "real;cli")
    else()
      vorlen_add_real_test(${class_name} "real")
    endif()
  endif()
endforeach()
