// Machine-dependent JNI definitions for 32-bit Windows, which <jni.h> includes as "jni_md.h".
//
// The Windows cross build puts this directory on the include path instead of a JDK's
// platform directory, so that <jni.h> (which is the same on every platform) meets the Win32
// conventions: exported native methods use the standard-call convention, jint is a 32-bit
// long and jlong the compiler's 64-bit integer.
//
// The guard is the one the JDK's own jni_md.h uses, so that only one of them ever applies.
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef _WIN32
#error "native/platform/win32/jni_md.h is for Windows builds only"
#endif

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif  // _JAVASOFT_JNI_MD_H_
