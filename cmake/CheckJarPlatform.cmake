# A test of the jar: the folder that holds the native library is the one NativeLibraryLoader
# looks in. It asks the loader inside the jar, run by JAVA: the JVM of the target platform
# (then it names the folder for that JVM's own os.name and os.arch), or, where no JVM of the
# target runs here, the host's given the target's OS_NAME and OS_ARCH.
#
#   cmake -DJAR=vorlen-pkcs11.jar -DJAVA=/path/to/java [-DOS_NAME=Windows -DOS_ARCH=x86]
#         -P cmake/CheckJarPlatform.cmake
if(NOT JAR OR NOT JAVA)
  message(FATAL_ERROR "CheckJarPlatform.cmake needs -DJAR= and -DJAVA=")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${JAR}
                OUTPUT_VARIABLE entries RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot list ${JAR}")
endif()
string(REPLACE "\n" ";" entries "${entries}")
set(folders "")
set(files "")
foreach(entry IN LISTS entries)
  if(entry MATCHES "^zandrop/tesk/pkcs11/vorlen/api/native/([^/]+)/([^/]+)$")
    list(APPEND folders ${CMAKE_MATCH_1})
    list(APPEND files ${CMAKE_MATCH_2})
  endif()
endforeach()
list(REMOVE_DUPLICATES folders)
list(LENGTH folders count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${JAR} holds a library in ${count} platform folders (${folders}), not one")
endif()

set(arguments "")
if(DEFINED OS_NAME)
  set(arguments "${OS_NAME}" "${OS_ARCH}")
endif()
execute_process(
  COMMAND ${JAVA} -cp ${JAR} zandrop.tesk.pkcs11.vorlen.api.NativeLibraryLoader ${arguments}
  OUTPUT_VARIABLE expected RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${JAVA} could not run the jar's NativeLibraryLoader")
endif()
if(NOT folders STREQUAL expected)
  message(FATAL_ERROR "${JAR} holds its library in native/${folders}/, "
                      "but the loader of this JVM looks in native/${expected}/")
endif()
# The file name is the platform's System.mapLibraryName("vorlenpkcs11").
if(folders MATCHES "^windows-")
  set(expected_file vorlenpkcs11.dll)
elseif(folders MATCHES "^macos-")
  set(expected_file libvorlenpkcs11.dylib)
else()
  set(expected_file libvorlenpkcs11.so)
endif()
if(NOT files STREQUAL expected_file)
  message(FATAL_ERROR "${JAR} holds native/${folders}/${files}, but a JVM there looks for ${expected_file}")
endif()
message("native/${folders}/${files} is the file the loader looks for (${JAVA} ${arguments})")
