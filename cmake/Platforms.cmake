# What depends on the target platform, kept out of CMakeLists.txt:
#
#   - the JNI headers of the 32-bit Windows cross build: the JDK's jni.h, which is the same on
#     every platform, with our own native/platform/win32/jni_md.h instead of the JDK's Linux one;
#   - vorlen_platform_library(target): what the Windows DLL needs at link time (the exported
#     names a 32-bit JVM looks up, a runtime linked in statically);
#   - at 32 bits, the PKCS#11 module files that the real-module suites load (cache variables
#     that cmake/RealModules.cmake takes as they are):
#       VORLEN_SOFTHSM2_MODULE       SoftHSM2 (libsofthsm2)
#       VORLEN_NSS_SOFTOKEN_MODULE   NSS's software token (libnss3)
#       VORLEN_P11KIT_TRUST_MODULE   p11-kit's trust module (p11-kit-modules)
#     NSS and p11-kit install as :i386 packages beside the 64-bit ones. libsofthsm2:i386 cannot
#     (it conflicts with the 64-bit package and uses the same path), so
#     scripts/unpack-softhsm-i386.sh unpacks it into the build tree. The 64-bit modules lie in
#     the same search paths and no 32-bit JVM can load them, so the 32-bit paths are fixed here
#     rather than searched for; -D overrides them. At 64 bits RealModules.cmake finds them.
#       VORLEN_SOFTHSM2_TOOL_MODULE  the SoftHSM2 module for the system's command-line tools
#     The tools (pkcs11-tool) exist at 64 bits only (opensc has no i386 package beside the
#     64-bit one), and a 64-bit process cannot load the i386 module. They load the system's
#     64-bit SoftHSM2 instead, which reads the same token folder (SOFTHSM2_CONF): its token
#     files are the same at both widths, and so are the slot IDs. Set at 32 bits only; at
#     64 bits the tools load VORLEN_SOFTHSM2_MODULE.
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

# ---- JNI headers of the Windows cross build ----
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    message(FATAL_ERROR "Only 32-bit Windows is supported (use cmake/toolchain-mingw32.cmake)")
  endif()
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
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}-exports.def)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDEF=${def} "-DOBJECTS=$<TARGET_OBJECTS:${target}>"
            -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Export definitions of ${target}"
    VERBATIM)
  # GNU ld reads a .def file given among its inputs. -static links the C++ runtime and the
  # threads library into the DLL: a JVM loads it with nothing else beside it.
  target_link_options(${target} PRIVATE -static ${def})
endfunction()

# ---- the module files of the real-module suites, at 32 bits ----
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VORLEN_SOFTHSM_I386_ROOT ${CMAKE_BINARY_DIR}/softhsm-i386 CACHE PATH
      "Where scripts/unpack-softhsm-i386.sh unpacked libsofthsm2:i386")
  set(VORLEN_SOFTHSM2_MODULE ${VORLEN_SOFTHSM_I386_ROOT}/usr/lib/softhsm/libsofthsm2.so
      CACHE FILEPATH "SoftHSM2's PKCS#11 module (i386)")
  set(VORLEN_NSS_SOFTOKEN_MODULE /usr/lib/i386-linux-gnu/libsoftokn3.so
      CACHE FILEPATH "NSS's software token module (i386)")
  set(VORLEN_P11KIT_TRUST_MODULE /usr/lib/i386-linux-gnu/pkcs11/p11-kit-trust.so
      CACHE FILEPATH "p11-kit's trust module (i386)")
  set(VORLEN_SOFTHSM2_TOOL_MODULE /usr/lib/softhsm/libsofthsm2.so
      CACHE FILEPATH "SoftHSM2's 64-bit module, for the command-line tools of the real-module suites")
  if(NOT EXISTS "${VORLEN_SOFTHSM2_MODULE}")
    message(STATUS "VORLEN_SOFTHSM2_MODULE: ${VORLEN_SOFTHSM2_MODULE} is missing "
                   "(scripts/unpack-softhsm-i386.sh ${VORLEN_SOFTHSM_I386_ROOT} makes it)")
  endif()
  foreach(module VORLEN_NSS_SOFTOKEN_MODULE VORLEN_P11KIT_TRUST_MODULE VORLEN_SOFTHSM2_TOOL_MODULE)
    if(NOT EXISTS "${${module}}")
      message(STATUS "${module}: ${${module}} is missing (scripts/install-deps.sh i386 and test install it)")
    endif()
  endforeach()
endif()
