// Object management functions.
#include <jni.h>

#include <algorithm>
#include <cstdio>

#include "convert/attribute_query.h"
#include "convert/convert.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {

// C_FindObjects asks for at most this many handles in one call: a caller that passes a huge
// maximum (say Long.MAX_VALUE for "all") gets them over several calls instead of a failed
// allocation. The search itself is unchanged.
constexpr CK_ULONG kMaxHandlesPerCall = CK_ULONG{1} << 20;

// The template-taking shape: convert, call with the template, release it.
template <typename Call>
CK_RV withTemplate(JNIEnv* env, jobjectArray pTemplate, bool& converted, Call call) {
    NativeTemplate native;
    converted = toCkAttributeArray(env, pTemplate, native);
    return converted ? call(native.data(), native.count()) : CKR_OK;
}

// The calls of C_GetAttributeValue that read the values once their lengths are known: the
// second, and after CKR_OK a third for nested arrays (CKA_WRAP_TEMPLATE...), which the second
// gave types and lengths. A CK_NOTIFY that threw during either is held aside, so that nothing
// is pending while the results are built; of two such failures, HeldException's rule keeps one.
struct ValueRead {
    CK_RV rv = CKR_OK;
    HeldException callbackFailure;

    void raise() { callbackFailure.raise(); }
};

// False when the nested values could not be given room (the exception is pending).
bool readValues(JNIEnv* env, ModuleCall& module, AttributeQuery& query, CK_SESSION_HANDLE session,
                CK_OBJECT_HANDLE object, ValueRead& read) {
    // Only a callback of the module can leave an exception pending (callbackRanHere).
    read.rv = module->C_GetAttributeValue(session, object, query.data(), query.count());
    if (callbackRanHere) {
        read.callbackFailure.hold(env);
    }
    bool thirdCall = false;
    if (read.rv == CKR_OK) {
        if (!query.allocateNestedValues(env, thirdCall)) {
            return false;
        }
        if (thirdCall) {
            read.rv = module->C_GetAttributeValue(session, object, query.data(), query.count());
            if (callbackRanHere) {
                read.callbackFailure.hold(env);
            }
        }
    }
    return true;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1CreateObject)(JNIEnv* env, jobject self, jlong hSession,
                                                        jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    CK_OBJECT_HANDLE handle = 0;
    bool converted = false;
    const CK_RV rv = withTemplate(env, pTemplate, converted, [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
        return module->C_CreateObject(ckULong(hSession), t, n, &handle);
    });
    return converted && succeeded(env, rv) ? javaLong(handle) : 0;
}

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1CopyObject)(JNIEnv* env, jobject self, jlong hSession,
                                                      jlong hObject, jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    CK_OBJECT_HANDLE handle = 0;
    bool converted = false;
    const CK_RV rv = withTemplate(env, pTemplate, converted, [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
        return module->C_CopyObject(ckULong(hSession), ckULong(hObject), t, n, &handle);
    });
    return converted && succeeded(env, rv) ? javaLong(handle) : 0;
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1DestroyObject)(JNIEnv* env, jobject self, jlong hSession,
                                                        jlong hObject) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    checkReturnValue(env, module->C_DestroyObject(ckULong(hSession), ckULong(hObject)));
}

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1GetObjectSize)(JNIEnv* env, jobject self, jlong hSession,
                                                         jlong hObject) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    CK_ULONG size = 0;
    const CK_RV rv = module->C_GetObjectSize(ckULong(hSession), ckULong(hObject), &size);
    return succeeded(env, rv) ? javaLong(size) : 0;
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1GetAttributeValue)(JNIEnv* env, jobject self,
                                                            jlong hSession, jlong hObject,
                                                            jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    // Only the types are asked for; the values are not converted (a value of a class that
    // could not be converted is refused all the same).
    AttributeQuery query;
    if (!query.readTypes(env, pTemplate)) {
        return;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    const CK_OBJECT_HANDLE object = ckULong(hObject);
    if (!succeeded(env, module->C_GetAttributeValue(session, object, query.data(), query.count())) ||
        !query.allocateValues(env)) {
        return;
    }
    ValueRead read;
    if (!readValues(env, module, query, session, object, read) ||
        !query.storeValues(env, pTemplate, read.rv)) {
        return;
    }
    // Nothing is pending after storeValues: only a callback's failure or the module's error
    // is left to throw.
    if (read.callbackFailure || read.rv != CKR_OK) {
        read.raise();
        checkReturnValue(env, read.rv);
    }
}

}  // extern "C"

namespace {

// The answers of C_GetAttributeValue that still leave every other attribute filled.
bool isAttributeError(CK_RV rv) {
    return rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_ATTRIBUTE_TYPE_INVALID || rv == CKR_BUFFER_TOO_SMALL;
}

// The attribute errors are answers of the lenient read: as after CKR_OK, the Exception of a
// CK_NOTIFY that threw yields to them, an Error does not; any other failure is thrown as usual.
bool answeredLeniently(JNIEnv* env, CK_RV rv) {
    return isAttributeError(rv) ? checkReturnValue(env, CKR_OK) == 0 && !env->ExceptionCheck()
                                : succeeded(env, rv);
}

// The lenient read's first call: the lengths. The module marks every attribute it cannot report
// and names one reason; with several marked, each is asked alone, as the reason may hold for some
// of them only. Each marked attribute gets its outcome; `rv` is the first call's answer. False
// with an exception pending.
bool readLengths(JNIEnv* env, ModuleCall& module, AttributeQuery& query, CK_SESSION_HANDLE session,
                 CK_OBJECT_HANDLE object, jlong* outcomes, CK_RV& rv) {
    constexpr jlong kUnavailable = static_cast<jlong>(CK_UNAVAILABLE_INFORMATION);
    const CK_ULONG count = query.count();
    rv = module->C_GetAttributeValue(session, object, query.data(), count);
    if (!answeredLeniently(env, rv)) {
        return false;
    }
    CK_ULONG failed = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (query.data()[i].ulValueLen == CK_UNAVAILABLE_INFORMATION) {
            outcomes[i] = rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL ? kUnavailable : javaLong(rv);
            ++failed;
        }
    }
    if (failed <= 1 || rv == CKR_OK) {
        return true;
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        if (outcomes[i] == 0) {
            continue;
        }
        CK_ATTRIBUTE one{query.data()[i].type, nullptr, 0};
        const CK_RV alone = module->C_GetAttributeValue(session, object, &one, 1);
        if (!answeredLeniently(env, alone)) {
            return false;
        }
        outcomes[i] = alone == CKR_ATTRIBUTE_SENSITIVE || alone == CKR_ATTRIBUTE_TYPE_INVALID
            ? javaLong(alone) : kUnavailable;
    }
    return true;
}

}  // namespace

extern "C" {

JNIEXPORT jlongArray JNICALL VORLEN_WRAPPER(readAttributeValues)(JNIEnv* env, jobject self,
                                                                 jlong hSession, jlong hObject,
                                                                 jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    AttributeQuery query;
    if (!query.readTypes(env, pTemplate)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    const CK_OBJECT_HANDLE object = ckULong(hObject);
    const CK_ULONG count = query.count();
    Scratch<jlong, 16> outcomes;
    if (!outcomes.allocate(env, count, "no room for the outcomes")) {
        return nullptr;
    }
    CK_RV rv = CKR_OK;
    if (!readLengths(env, module, query, session, object, outcomes.data(), rv)) {
        return nullptr;
    }
    // The values: the same protocol as C_GetAttributeValue, with the outcomes instead of errors.
    if (!query.allocateValues(env)) {
        return nullptr;
    }
    ValueRead read;
    if (!readValues(env, module, query, session, object, read)) {
        return nullptr;
    }
    rv = read.rv;
    constexpr jlong kUnavailable = static_cast<jlong>(CK_UNAVAILABLE_INFORMATION);
    if (rv != CKR_OK && !isAttributeError(rv)) {
        // A failure of the whole call: the template as C_GetAttributeValue leaves it, and the error.
        if (query.storeValues(env, pTemplate, rv)) {
            read.raise();
            checkReturnValue(env, rv);
        }
        return nullptr;
    }
    const jlong unread = rv == CKR_OK || rv == CKR_BUFFER_TOO_SMALL ? kUnavailable : javaLong(rv);
    if (!query.storeValues(env, pTemplate, rv, outcomes.data(), unread)) {
        return nullptr;
    }
    LocalRef<jlongArray> result(env, env->NewLongArray(static_cast<jsize>(count)));
    if (!result) {
        return nullptr;
    }
    env->SetLongArrayRegion(result.get(), 0, static_cast<jsize>(count), outcomes.data());
    read.raise();
    return answeredLeniently(env, CKR_OK) ? result.release() : nullptr;
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SetAttributeValue)(JNIEnv* env, jobject self,
                                                            jlong hSession, jlong hObject,
                                                            jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    bool converted = false;
    const CK_RV rv = withTemplate(env, pTemplate, converted, [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
        return module->C_SetAttributeValue(ckULong(hSession), ckULong(hObject), t, n);
    });
    if (converted) {
        checkReturnValue(env, rv);
    }
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1FindObjectsInit)(JNIEnv* env, jobject self, jlong hSession,
                                                          jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    bool converted = false;
    const CK_RV rv = withTemplate(env, pTemplate, converted, [&](CK_ATTRIBUTE_PTR t, CK_ULONG n) {
        return module->C_FindObjectsInit(ckULong(hSession), t, n);
    });
    if (converted) {
        checkReturnValue(env, rv);
    }
}

JNIEXPORT jlongArray JNICALL VORLEN_WRAPPER(C_1FindObjects)(JNIEnv* env, jobject self,
                                                            jlong hSession, jlong ulMaxObjectCount) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    const CK_ULONG maximum = std::min(ckULong(ulMaxObjectCount), kMaxHandlesPerCall);
    Scratch<CK_OBJECT_HANDLE, 256> handles;  // zero-filled, as every output
    if (!handles.allocate(env, maximum, "no room for object handles")) {
        return nullptr;
    }
    CK_ULONG found = 0;
    const CK_RV rv = module->C_FindObjects(ckULong(hSession), handles.data(), maximum, &found);
    if (rv == CKR_OK && throwIfOverrun(env, "C_FindObjects", "handles", found, maximum)) {
        return nullptr;
    }
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaLongArray(env, handles.data(), found);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1FindObjectsFinal)(JNIEnv* env, jobject self,
                                                           jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    checkReturnValue(env, module->C_FindObjectsFinal(ckULong(hSession)));
}

}  // extern "C"
