// The benchmark's own small JNI helper: the module's own cost, measured in the same process, on
// the same module instance, session and keys as the library's figures. Each function calls the
// module n times in a native loop, the way a C program would (no Java object is touched inside
// the loop); the Java harness times one such call and divides by n.
//
// The module file is opened by its path: the process already has it loaded (the library opened
// it first), so the same instance answers, with the library's sessions and keys.
#include <dlfcn.h>
#include <jni.h>

#include <cstdio>
#include <cstring>

#include "pkcs11/pkcs11.h"

#define LOOP(name) Java_zandrop_tesk_pkcs11_vorlen_bench_ModuleLoop_##name

namespace {

CK_FUNCTION_LIST_PTR list(jlong handle) { return reinterpret_cast<CK_FUNCTION_LIST_PTR>(handle); }

bool fail(JNIEnv* env, const char* what, CK_RV rv) {
    char message[160];
    std::snprintf(message, sizeof message, "module loop: %s returned 0x%lX", what,
                  static_cast<unsigned long>(rv));
    jclass cls = env->FindClass("java/lang/IllegalStateException");
    if (cls != nullptr) {
        env->ThrowNew(cls, message);
    }
    return false;
}

#define CHECK(call, what)                      \
    do {                                       \
        const CK_RV rv_ = (call);              \
        if (rv_ != CKR_OK) {                   \
            fail(env, what, rv_);              \
            return;                            \
        }                                      \
    } while (0)

CK_BYTE_PTR bytes(JNIEnv* env, jobject directBuffer) {
    return static_cast<CK_BYTE_PTR>(env->GetDirectBufferAddress(directBuffer));
}

CK_ULONG length(JNIEnv* env, jobject directBuffer) {
    return static_cast<CK_ULONG>(env->GetDirectBufferCapacity(directBuffer));
}

}  // namespace

extern "C" {

/// The module's function list, from the module file already loaded at `path`; 0 with
/// IllegalStateException pending when it cannot be had.
JNIEXPORT jlong JNICALL LOOP(functionList)(JNIEnv* env, jclass, jstring path) {
    const char* chars = env->GetStringUTFChars(path, nullptr);
    if (chars == nullptr) {
        return 0;
    }
    // RTLD_NOLOAD: only the instance that the process already has.
    void* handle = dlopen(chars, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    env->ReleaseStringUTFChars(path, chars);
    if (handle == nullptr) {
        fail(env, "dlopen of a module that is not loaded yet", CKR_GENERAL_ERROR);
        return 0;
    }
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR functions = nullptr;
    const CK_RV rv = getList != nullptr ? getList(&functions) : CKR_GENERAL_ERROR;
    if (rv != CKR_OK || functions == nullptr) {
        fail(env, "C_GetFunctionList", rv);
        return 0;
    }
    return reinterpret_cast<jlong>(functions);  // the handle stays open: the list stays valid
}

JNIEXPORT void JNICALL LOOP(sessionInfo)(JNIEnv* env, jclass, jlong f, jlong session, jint n) {
    for (jint i = 0; i < n; ++i) {
        CK_SESSION_INFO info;
        CHECK(list(f)->C_GetSessionInfo(static_cast<CK_SESSION_HANDLE>(session), &info), "C_GetSessionInfo");
    }
}

JNIEXPORT void JNICALL LOOP(random32)(JNIEnv* env, jclass, jlong f, jlong session, jint n) {
    for (jint i = 0; i < n; ++i) {
        CK_BYTE random[32];
        CHECK(list(f)->C_GenerateRandom(static_cast<CK_SESSION_HANDLE>(session), random, sizeof random),
              "C_GenerateRandom");
    }
}

/// C_SignInit (unless mechanism is -1) and C_Sign of the buffer's bytes, offering 512 bytes.
JNIEXPORT void JNICALL LOOP(sign)(JNIEnv* env, jclass, jlong f, jlong session, jlong mechanism,
                                  jlong key, jobject data, jint n) {
    CK_BYTE_PTR in = bytes(env, data);
    const CK_ULONG inLength = length(env, data);
    const auto s = static_cast<CK_SESSION_HANDLE>(session);
    for (jint i = 0; i < n; ++i) {
        if (mechanism != -1) {
            CK_MECHANISM m{static_cast<CK_MECHANISM_TYPE>(mechanism), nullptr, 0};
            CHECK(list(f)->C_SignInit(s, &m, static_cast<CK_OBJECT_HANDLE>(key)), "C_SignInit");
        }
        CK_BYTE signature[512];
        CK_ULONG signatureLength = sizeof signature;
        CHECK(list(f)->C_Sign(s, in, inLength, signature, &signatureLength), "C_Sign");
    }
}

/// C_GetAttributeValue of the types: the lengths, then the values (up to 64 bytes each).
JNIEXPORT void JNICALL LOOP(attributes)(JNIEnv* env, jclass, jlong f, jlong session, jlong object,
                                        jlongArray typeArray, jint n) {
    CK_ATTRIBUTE t[16];
    const jsize count = env->GetArrayLength(typeArray);
    if (count > 16) {
        fail(env, "more than 16 attribute types", CKR_ARGUMENTS_BAD);
        return;
    }
    jlong types[16];
    env->GetLongArrayRegion(typeArray, 0, count, types);
    CK_BYTE values[16][64];
    const auto s = static_cast<CK_SESSION_HANDLE>(session);
    const auto o = static_cast<CK_OBJECT_HANDLE>(object);
    for (jint i = 0; i < n; ++i) {
        for (jsize a = 0; a < count; ++a) {
            t[a] = {static_cast<CK_ATTRIBUTE_TYPE>(types[a]), nullptr, 0};
        }
        CHECK(list(f)->C_GetAttributeValue(s, o, t, static_cast<CK_ULONG>(count)), "C_GetAttributeValue");
        for (jsize a = 0; a < count; ++a) {
            if (t[a].ulValueLen > sizeof values[a]) {
                fail(env, "an attribute longer than 64 bytes", CKR_GENERAL_ERROR);
                return;
            }
            t[a].pValue = values[a];
        }
        CHECK(list(f)->C_GetAttributeValue(s, o, t, static_cast<CK_ULONG>(count)), "C_GetAttributeValue");
    }
}

JNIEXPORT void JNICALL LOOP(findObjects)(JNIEnv* env, jclass, jlong f, jlong session, jint max, jint n) {
    CK_OBJECT_HANDLE handles[1024];
    if (max > 1024) {
        fail(env, "more than 1024 handles", CKR_ARGUMENTS_BAD);
        return;
    }
    for (jint i = 0; i < n; ++i) {
        CK_ULONG count = 0;
        CHECK(list(f)->C_FindObjects(static_cast<CK_SESSION_HANDLE>(session), handles,
                                     static_cast<CK_ULONG>(max), &count), "C_FindObjects");
    }
}

/// C_DigestInit and C_Digest of the buffer's bytes into a buffer of the digest's size.
JNIEXPORT void JNICALL LOOP(digest)(JNIEnv* env, jclass, jlong f, jlong session, jlong mechanism,
                                    jobject data, jobject digest, jint n) {
    CK_BYTE_PTR in = bytes(env, data);
    const CK_ULONG inLength = length(env, data);
    CK_BYTE_PTR out = bytes(env, digest);
    const CK_ULONG outRoom = length(env, digest);
    const auto s = static_cast<CK_SESSION_HANDLE>(session);
    for (jint i = 0; i < n; ++i) {
        CK_MECHANISM m{static_cast<CK_MECHANISM_TYPE>(mechanism), nullptr, 0};
        CHECK(list(f)->C_DigestInit(s, &m), "C_DigestInit");
        CK_ULONG outLength = outRoom;
        CHECK(list(f)->C_Digest(s, in, inLength, out, &outLength), "C_Digest");
    }
}

/// C_EncryptInit with the parameter's bytes and C_Encrypt of the buffer's bytes.
JNIEXPORT void JNICALL LOOP(encrypt)(JNIEnv* env, jclass, jlong f, jlong session, jlong mechanism,
                                     jobject parameter, jlong key, jobject data, jobject output, jint n) {
    CK_BYTE_PTR in = bytes(env, data);
    const CK_ULONG inLength = length(env, data);
    CK_BYTE_PTR out = bytes(env, output);
    const CK_ULONG outRoom = length(env, output);
    CK_BYTE_PTR parameterBytes = bytes(env, parameter);
    const CK_ULONG parameterLength = length(env, parameter);
    const auto s = static_cast<CK_SESSION_HANDLE>(session);
    for (jint i = 0; i < n; ++i) {
        CK_MECHANISM m{static_cast<CK_MECHANISM_TYPE>(mechanism), parameterBytes, parameterLength};
        CHECK(list(f)->C_EncryptInit(s, &m, static_cast<CK_OBJECT_HANDLE>(key)), "C_EncryptInit");
        CK_ULONG outLength = outRoom;
        CHECK(list(f)->C_Encrypt(s, in, inLength, out, &outLength), "C_Encrypt");
    }
}

}  // extern "C"
