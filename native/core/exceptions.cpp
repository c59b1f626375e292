#include "core/exceptions.h"

#include <cstdio>
#include <string>

#include "core/jni_cache.h"
#include "core/jni_util.h"

namespace vorlen {

thread_local constinit bool callbackRanHere = false;

namespace {

constexpr const char* kNotConnected = "This object is not connected to a module.";

}  // namespace

bool errorPending(JNIEnv* env) {
    if (!env->ExceptionCheck()) {
        return false;
    }
    // JNI allows no IsInstanceOf with an exception pending: take it, ask it, raise it again.
    jthrowable pending = env->ExceptionOccurred();
    env->ExceptionClear();
    const bool error = env->IsInstanceOf(pending, jni::core.error) == JNI_TRUE;
    env->Throw(pending);
    env->DeleteLocalRef(pending);
    return error;
}

jlong checkReturnValue(JNIEnv* env, CK_RV rv) {
    if (rv == CKR_OK) {
        // A callback failed, but the module answered CKR_OK: its answer prevails over an
        // Exception; an Error is never dropped.
        if (env->ExceptionCheck() && !errorPending(env)) {
            env->ExceptionClear();
        }
        return 0;
    }
    const jlong code = toJavaLongValue(rv);
    jthrowable cause = env->ExceptionOccurred();
    if (cause != nullptr) {
        env->ExceptionClear();
    }
    // The classes are loaded: no native method runs before initializeLibrary succeeded.
    jthrowable exception = static_cast<jthrowable>(
        env->NewObject(jni::core.pkcs11Exception, jni::core.pkcs11ExceptionInit, code));
    if (exception != nullptr) {
        if (cause != nullptr) {
            jobject self = env->CallObjectMethod(exception, jni::core.throwableInitCause, cause);
            if (env->ExceptionCheck()) {
                env->ExceptionClear();  // the cause is an extra; the code is what matters
            }
            if (self != nullptr) {
                env->DeleteLocalRef(self);
            }
        }
        env->Throw(exception);
        env->DeleteLocalRef(exception);
    }
    if (cause != nullptr) {
        env->DeleteLocalRef(cause);
    }
    return code;
}

void throwPKCS11RuntimeException(JNIEnv* env, const char* message) {
    env->ThrowNew(jni::core.pkcs11RuntimeException, message);
}

void throwNotConnected(JNIEnv* env) { throwPKCS11RuntimeException(env, kNotConnected); }

void throwIOException(JNIEnv* env, const char* message) {
    env->ThrowNew(jni::core.ioException, message);
}

void throwNullPointer(JNIEnv* env, const char* message) {
    env->ThrowNew(jni::core.nullPointerException, message);
}

void throwIllegalArgument(JNIEnv* env, const char* message) {
    env->ThrowNew(jni::core.illegalArgumentException, message);
}

void throwOutOfMemory(JNIEnv* env, const char* what) {
    if (env->ExceptionCheck()) {
        return;
    }
    env->ThrowNew(jni::core.outOfMemoryError, what);
}

bool throwIfOverrun(JNIEnv* env, const char* function, const char* what, CK_ULONG reported,
                    CK_ULONG allocated) {
    if (reported <= allocated) {
        return false;
    }
    if (errorPending(env)) {
        return true;  // an Error a callback threw goes first; no result is built
    }
    char message[256];
    std::snprintf(message, sizeof message,
                  "%s reported %lu %s but only %lu were allocated; the module's answer is not used",
                  function, static_cast<unsigned long>(reported), what,
                  static_cast<unsigned long>(allocated));
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
    }
    throwPKCS11RuntimeException(env, message);
    return true;
}

}  // namespace vorlen
