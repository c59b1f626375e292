// Turning failures into Java exceptions. Every failure leaves exactly one exception pending in
// the calling thread; the native method then returns its neutral value.
#pragma once

#include <jni.h>

#include "pkcs11/pkcs11.h"

namespace vorlen {

/// True on a thread where a callback of a module ran (or began) since the last call into a
/// module started there (ModuleCall clears it; CallbackEnv sets it, also after the Java code of
/// a nested call). The library checks its own JNI calls as it makes them, so after a module call
/// only a callback can have left an exception pending: while this is false, none is, and the
/// ExceptionCheck after the call is not needed.
#if defined(__GNUC__) && !defined(_WIN32)
// Hidden: the compiler then reaches it as the library's own thread-local variable, in the block it
// finds once per function for all of them, rather than through a lookup of its own.
extern thread_local constinit bool callbackRanHere __attribute__((visibility("hidden")));
#else
extern thread_local constinit bool callbackRanHere;
#endif

/// env->ExceptionCheck() after a module call, made only when a callback ran on this thread.
inline bool callbackExceptionPending(JNIEnv* env) { return callbackRanHere && env->ExceptionCheck(); }

/// Zero-extends a CK_ULONG to a Java long.
inline jlong toJavaLongValue(CK_ULONG value) { return static_cast<jlong>(value); }

/// 0 for CKR_OK; otherwise throws PKCS11Exception(rv) and returns rv zero-extended.
/// An exception left pending by a callback of the module on this thread becomes the cause of
/// the new PKCS11Exception. When the module nevertheless returned CKR_OK, an Exception (the
/// callback's answer, which the module overrode) is cleared so that the call's result reaches
/// the caller, but an Error (OutOfMemoryError, StackOverflowError...) stays pending: the caller
/// must then build no result.
jlong checkReturnValue(JNIEnv* env, CK_RV rv);

/// Whether the exception pending on this thread is a java.lang.Error.
bool errorPending(JNIEnv* env);

/// Throws PKCS11RuntimeException with a native (modified UTF-8) message. Like every function
/// here it needs the loaded caches, which every native method of the library may take for
/// granted: PKCS11Impl's class initialisation fails when they cannot be loaded.
void throwPKCS11RuntimeException(JNIEnv* env, const char* message);
/// PKCS11RuntimeException "This object is not connected to a module."
void throwNotConnected(JNIEnv* env);
/// java.io.IOException with `message`.
void throwIOException(JNIEnv* env, const char* message);
/// java.lang.NullPointerException with `message`.
void throwNullPointer(JNIEnv* env, const char* message);
/// java.lang.IllegalArgumentException with `message`.
void throwIllegalArgument(JNIEnv* env, const char* message);

/// When a module reports more than the library gave it room for, together with CKR_OK:
/// PKCS11RuntimeException "<function> reported <reported> <what> but only <allocated> were
/// allocated". Returns true when it threw.
bool throwIfOverrun(JNIEnv* env, const char* function, const char* what, CK_ULONG reported,
                    CK_ULONG allocated);

}  // namespace vorlen
