# What depends on the target platform, kept out of CMakeLists.txt:
#
#   - VORLEN_JVM_OS_NAME and VORLEN_JVM_OS_ARCH: the os.name and os.arch that a JVM of the
#     target platform reports; CMakeLists.txt asks NativeLibraryLoader which folder of the jar
#     that JVM looks in, and puts the library there;
#   - the JNI headers of the Windows cross builds (32-bit and x64): the JDK's jni.h, which is the same on
#     every platform, with our own native/platform/win32/jni_md.h instead of the JDK's Linux one;
#   - vorlen_platform_library(target): what the Windows DLL needs at link time (the exported
#     names a 32-bit JVM looks up, a runtime linked in statically);
#   - in the Linux cross builds (i386, aarch64), the PKCS#11 module files that the real-module
#     suites load (cache variables that cmake/RealModules.cmake takes as they are):
#       VORLEN_SOFTHSM2_MODULE       SoftHSM2 (libsofthsm2)
#       VORLEN_NSS_SOFTOKEN_MODULE   NSS's software token (libnss3)
#       VORLEN_P11KIT_TRUST_MODULE   p11-kit's trust module (p11-kit-modules)
#     NSS and p11-kit install as :i386 or :arm64 packages beside the machine's own.
#     libsofthsm2 cannot (it conflicts with the machine's package and uses the same path), so
#     scripts/unpack-softhsm.sh unpacks it into the build folder (VORLEN_SOFTHSM_ROOT). The
#     machine's own modules lie in the same search paths and the target's JVM cannot load them,
#     so the target's paths are fixed here rather than searched for; -D overrides them. In a
#     native build RealModules.cmake finds them.
#       VORLEN_SOFTHSM2_TOOL_MODULE  the SoftHSM2 module for the system's command-line tools
#     The tools (pkcs11-tool) exist for the machine's architecture only, and they cannot load
#     the target's module. They load the machine's SoftHSM2 instead, which reads the same token
#     folder (SOFTHSM2_CONF): its token files are the same on every platform, and so are the slot
#     IDs. Set in the cross builds only; natively the tools load VORLEN_SOFTHSM2_MODULE.
#
# Run as a script (cmake -DNM=... -DDEF=... -DOBJECTS=... -P cmake/Platforms.cmake) it writes
# the export definitions of the Windows DLL; see vorlen_platform_library().

# ---- script mode: the export definitions of the Windows DLL ----
#
# A 32-bit JVM on Windows looks a native method up under its standard-call name first:
# "_Java_..._C_1GetInfo@8", a leading underscore, the JNI name, "@" and the bytes of the
# arguments. GNU ld exports a __declspec(dllexport) standard-call function without the leading
# underscore ("Java_..._C_1GetInfo@8"), which the JVM never asks for. The definitions file
# adds, for every JNI entry the objects define, the name with the underscore.
if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT NM OR NOT DEF OR NOT OBJECTS)
    message(FATAL_ERROR "Platforms.cmake as a script needs -DNM=, -DDEF= and -DOBJECTS=")
  endif()
  execute_process(COMMAND ${NM} -g --defined-only ${OBJECTS}
                  OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on the library's objects")
  endif()
  string(REPLACE "\n" ";" lines "${symbols}")
  set(exports "")
  foreach(line IN LISTS lines)
    # A defined code symbol as COFF spells it: "_" + the C name (with its "@N" for stdcall).
    if(line MATCHES "^[0-9a-fA-F]+ T _((Java_|JNI_On)[A-Za-z0-9_]*@[0-9]+)$")
      list(APPEND exports "_${CMAKE_MATCH_1} = ${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES exports)
  list(SORT exports)
  list(LENGTH exports count)
  if(count EQUAL 0)
    message(FATAL_ERROR "no JNI entry points found in the library's objects")
  endif()
  list(JOIN exports "\n" body)
  file(WRITE ${DEF} "EXPORTS\n${body}\n")
  return()
endif()

# ---- what the target's JVM reports as os.name and os.arch ----
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(VORLEN_JVM_OS_NAME Windows)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
  set(VORLEN_JVM_OS_NAME "Mac OS X")
else()
  set(VORLEN_JVM_OS_NAME ${CMAKE_SYSTEM_NAME})
endif()
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" vorlen_processor)
if(vorlen_processor MATCHES "^(aarch64|arm64)$")
  set(VORLEN_JVM_OS_ARCH aarch64)
elseif(vorlen_processor MATCHES "^(x86_64|amd64|x86|i[3-6]86)$")
  # A 32-bit build on an x86-64 host names the host's processor: the width decides.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VORLEN_JVM_OS_ARCH amd64)
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(VORLEN_JVM_OS_ARCH x86)
  else()
    set(VORLEN_JVM_OS_ARCH i386)
  endif()
else()
  set(VORLEN_JVM_OS_ARCH ${vorlen_processor})
endif()

# ---- JNI headers of the Windows cross build ----
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # jni.h of the JDK that builds the jar; jni_md.h of our own. jni.h includes "jni_md.h"
  # with quotes, which finds nothing beside it (the JDK keeps its jni_md.h in include/linux),
  # so the search goes on to our directory: the JDK's platform directory is never listed.
  find_path(VORLEN_JNI_H jni.h PATHS "${JAVA_HOME}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT VORLEN_JNI_H)
    message(FATAL_ERROR "jni.h not found under ${JAVA_HOME}/include: set JAVA_HOME to a JDK")
  endif()
  set(JNI_INCLUDE_DIRS ${VORLEN_JNI_H} ${PROJECT_SOURCE_DIR}/native/platform/win32)
  set(JNI_FOUND TRUE)
endif()

# What the library target needs on this platform; called by CMakeLists.txt after add_library.
function(vorlen_platform_library target)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
    return()
  endif()
  # The file name a JVM on Windows looks for, System.mapLibraryName("vorlenpkcs11"):
  # vorlenpkcs11.dll, without the "lib" that MinGW would put before it.
  set_target_properties(${target} PROPERTIES PREFIX "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # Windows x64 has one calling convention and no decoration: __declspec(dllexport) exports
    # the JNI names as the JVM looks them up. Only the runtime is linked in.
    target_link_options(${target} PRIVATE -static -Wl,--no-insert-timestamp)
    return()
  endif()
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}-exports.def)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDEF=${def} "-DOBJECTS=$<TARGET_OBJECTS:${target}>"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Export definitions of ${target}"
    VERBATIM)
  # GNU ld reads a .def file given among its inputs. -static links the C++ runtime and the
  # threads library into the DLL: a JVM loads it with nothing else beside it. Without
  # --no-insert-timestamp the PE header would carry the link's time (no reproducible build).
  target_link_options(${target} PRIVATE -static -Wl,--no-insert-timestamp ${def})
endfunction()

# ---- the module files of the real-module suites, in the Linux cross builds ----
set(vorlen_multiarch "")
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(vorlen_multiarch i386-linux-gnu)
  set(vorlen_debian_arch i386)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_CROSSCOMPILING AND VORLEN_JVM_OS_ARCH STREQUAL "aarch64")
  set(vorlen_multiarch aarch64-linux-gnu)
  set(vorlen_debian_arch arm64)
endif()
if(vorlen_multiarch)
  set(VORLEN_SOFTHSM_ROOT ${CMAKE_BINARY_DIR}/softhsm-${vorlen_debian_arch} CACHE PATH
      "Where scripts/unpack-softhsm.sh unpacked libsofthsm2:${vorlen_debian_arch}")
  set(VORLEN_SOFTHSM2_MODULE ${VORLEN_SOFTHSM_ROOT}/usr/lib/softhsm/libsofthsm2.so
      CACHE FILEPATH "SoftHSM2's PKCS#11 module (${vorlen_debian_arch})")
  set(VORLEN_NSS_SOFTOKEN_MODULE /usr/lib/${vorlen_multiarch}/libsoftokn3.so
      CACHE FILEPATH "NSS's software token module (${vorlen_debian_arch})")
  set(VORLEN_P11KIT_TRUST_MODULE /usr/lib/${vorlen_multiarch}/pkcs11/p11-kit-trust.so
      CACHE FILEPATH "p11-kit's trust module (${vorlen_debian_arch})")
  set(VORLEN_SOFTHSM2_TOOL_MODULE /usr/lib/softhsm/libsofthsm2.so
      CACHE FILEPATH "The machine's own SoftHSM2 module, for the command-line tools of the real-module suites")
  if(NOT EXISTS "${VORLEN_SOFTHSM2_MODULE}")
    message(STATUS "VORLEN_SOFTHSM2_MODULE: ${VORLEN_SOFTHSM2_MODULE} is missing "
                   "(scripts/unpack-softhsm.sh ${vorlen_debian_arch} ${VORLEN_SOFTHSM_ROOT} makes it)")
  endif()
  foreach(module VORLEN_NSS_SOFTOKEN_MODULE VORLEN_P11KIT_TRUST_MODULE VORLEN_SOFTHSM2_TOOL_MODULE)
    if(NOT EXISTS "${${module}}")
      message(STATUS "${module}: ${${module}} is missing (scripts/install-deps.sh test and i386 or aarch64 install it)")
    endif()
  endforeach()
endif()
