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
# Modules that stand between the library and a token: OpenSC's spy (opensc-pkcs11), which logs
# every call, and p11-kit's client (p11-kit-modules), which forwards every call to a server.
find_file(VORLEN_PKCS11_SPY_MODULE pkcs11-spy.so
  PATHS ${VORLEN_MULTIARCH_LIB} ${VORLEN_MULTIARCH_LIB}/pkcs11 /usr/lib64 /usr/lib64/pkcs11
  NO_DEFAULT_PATH)
find_file(VORLEN_P11KIT_CLIENT_MODULE p11-kit-client.so
  PATHS ${VORLEN_MULTIARCH_LIB}/pkcs11 /usr/lib64/pkcs11 /usr/lib/pkcs11
  NO_DEFAULT_PATH)
find_program(VORLEN_P11KIT_TOOL p11-kit)
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
vorlen_real_property(p7 vorlen.real.p11kitclient "${VORLEN_P11KIT_CLIENT_MODULE}")
vorlen_real_property(p8 vorlen.real.p11kit "${VORLEN_P11KIT_TOOL}")
vorlen_real_property(p9 vorlen.real.spy "${VORLEN_PKCS11_SPY_MODULE}")
vorlen_real_property(p10 vorlen.real.p11tool "${VORLEN_P11TOOL}")
# libp11-kit's URI oracle (testmodule/uri), a program of the tree's platform: under an emulator
# the tests start it through the emulator, whose words are given joined by '|'.
vorlen_real_property(p11 vorlen.real.p11kituri "${VORLEN_P11KIT_URI_TOOL}")
string(JOIN "|" vorlen_uri_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
set(VORLEN_REAL_PROPERTIES ${p1} ${p2} ${p3} ${p4} ${p5} ${p6} ${p7} ${p8} ${p9} ${p10} ${p11}
  "-Dvorlen.real.p11kituri.emulator=${vorlen_uri_emulator}"
  -Dvorlen.demo.jar=${VORLEN_DEMO_JAR} -Dvorlen.provider.jar=${VORLEN_PROVIDER_JAR})
# The suites that run through a module in between (below) on the native x86-64 tree only.
set(VORLEN_BETWEEN_ONLY RealSpyLogTest)
if(vorlen_multiarch)
  set(vorlen_between_here FALSE)
else()
  set(vorlen_between_here TRUE)
  list(APPEND VORLEN_REAL_PROPERTIES -Dvorlen.real.between=true)
endif()

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
# vorlen_add_real_test(CLASS LABELS [SUFFIX s] [ENVIRONMENT VAR=value...] [PROPERTIES -D...]):
# the test is named java.<class><suffix>; the environment is the wrapper's.
function(vorlen_add_real_test class_name labels)
  cmake_parse_arguments(R "" "SUFFIX" "ENVIRONMENT;PROPERTIES" ${ARGN})
  string(REGEX REPLACE ".*\\." "" short_name ${class_name})
  foreach(leg IN LISTS VORLEN_JVM_LEGS)
    set(name ${VORLEN_LEG_PREFIX_${leg}}java.${short_name}${R_SUFFIX})
    add_test(NAME ${name}
      COMMAND ${VORLEN_REAL_RUNNER} env ${VORLEN_REAL_ENV}
              ${VORLEN_LEG_JVM_${leg}} ${VORLEN_JVM_OPTIONS} ${VORLEN_LEG_OPTIONS_${leg}}
              ${VORLEN_TEST_PROPERTIES} ${VORLEN_REAL_PROPERTIES} ${R_PROPERTIES}
              -Dvorlen.java=${VORLEN_LEG_JVM_${leg}}
              -jar ${JUNIT_CONSOLE} --disable-banner --details=tree --fail-if-no-tests
              --class-path ${VORLEN_JAR}:${VORLEN_PROVIDER_JAR}:${VORLEN_TEST_CLASSES}:${JUNIT_PARAMS}
              --select-class ${class_name})
    set_tests_properties(${name} PROPERTIES
      FAIL_REGULAR_EXPRESSION "${VORLEN_LEG_FAIL_${leg}}"
      TIMEOUT ${vorlen_real_timeout}
      LABELS "java;${labels};${VORLEN_LEG_LABEL_${leg}}")
    if(R_ENVIRONMENT)
      set_tests_properties(${name} PROPERTIES ENVIRONMENT "${R_ENVIRONMENT}")
    endif()
  endforeach()
endfunction()

foreach(source ${VORLEN_TEST_JAVA_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  if(name MATCHES "^(Real|Cli).*Test$")
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/java/src/test/java ${source})
    string(REGEX REPLACE "\\.java$" "" rel ${rel})
    string(REPLACE "/" "." class_name ${rel})
    set(vorlen_real_class_${name} ${class_name})
    if(name MATCHES "^Cli")
      vorlen_add_real_test(${class_name} "real;cli")
    elseif(name STREQUAL "RealRemoteTest" AND NOT vorlen_between_here)
    elseif(NOT name IN_LIST VORLEN_BETWEEN_ONLY)
      vorlen_add_real_test(${class_name} "real")
    endif()
  endif()
endforeach()

# The SoftHSM2 and NSS softoken suites once more with OpenSC's pkcs11-spy.so in between (test
# names ending in ".spy"): the tests get the spy's path where they ask for the module's
# (vorlen.real.spied names which), PKCS11SPY names the module the spy loads, and the wrapper
# puts the spy's log (PKCS11SPY_OUTPUT) in the test folder. RealSpyLogTest reads that log.
# RealRemoteTest reaches SoftHSM2 through p11-kit-client.so and a p11-kit server that it starts
# itself (the wrapper sets P11_KIT_SERVER_ADDRESS to a socket in the test folder). Both need
# modules of the tree's own architecture (and a server of the machine's): on the 32-bit and
# aarch64 trees they are not registered, nor is CliDemoTest's case that uses them run
# (vorlen.real.between), and not-run.txt says so.
if(vorlen_between_here)
  foreach(spied IN ITEMS
      "softhsm2;${VORLEN_SOFTHSM2_MODULE};RealSoftHsmTest;RealSoftHsmMechanismsTest;RealSpyLogTest"
      "softokn;${VORLEN_NSS_SOFTOKEN_MODULE};RealNssSoftokenTest;RealNssSoftokenMechanismsTest;RealVersion3Test")
    list(POP_FRONT spied which module)
    foreach(name IN LISTS spied)
      vorlen_add_real_test(${vorlen_real_class_${name}} "real;spy" SUFFIX .spy
        ENVIRONMENT "PKCS11SPY=${module}" PROPERTIES -Dvorlen.real.spied=${which})
    endforeach()
  endforeach()
  if(NOT VORLEN_PKCS11_SPY_MODULE)
    message(STATUS "Real-module tests: pkcs11-spy.so not found; the .spy suites will fail (scripts/install-deps.sh test installs opensc-pkcs11)")
  endif()
  if(NOT VORLEN_P11KIT_CLIENT_MODULE OR NOT VORLEN_P11KIT_TOOL)
    message(STATUS "Real-module tests: p11-kit-client.so or p11-kit not found; java.RealRemoteTest will fail (scripts/install-deps.sh test installs p11-kit and p11-kit-modules)")
  endif()
else()
  file(APPEND ${CMAKE_BINARY_DIR}/not-run.txt
    "java.*.spy (the SoftHSM2 and NSS softoken suites through OpenSC's pkcs11-spy.so) and "
    "java.RealSpyLogTest: not registered on this ${CMAKE_SYSTEM_PROCESSOR} tree; they run on the x86-64 tree\n"
    "java.RealRemoteTest (SoftHSM2 through p11-kit-client.so and a p11-kit server): not registered "
    "on this ${CMAKE_SYSTEM_PROCESSOR} tree; it runs on the x86-64 tree\n"
    "java.CliDemoTest: its case of the road through pkcs11-spy.so and p11-kit-client.so not run "
    "on this ${CMAKE_SYSTEM_PROCESSOR} tree; it runs on the x86-64 tree\n")
endif()
