// Object management functions.
#include <jni.h>

#include <algorithm>
#include <cstdio>

#include "convert/convert.h"
#include "wrappers/frame.h"

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
    NativeTemplate attributes;
    if (!toCkAttributeTypes(env, pTemplate, attributes)) {
        return;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    const CK_OBJECT_HANDLE object = ckULong(hObject);
    if (!succeeded(env, module->C_GetAttributeValue(session, object, attributes.data(),
                                                    attributes.count()))) {
        return;
    }
    // A buffer of the reported length for every value a Java array can hold, all in one block
    // (on the stack when small). A length no Java array can hold (CK_UNAVAILABLE_INFORMATION
    // among them) gets no buffer: the second call reports it again and the value reads as null.
    const CK_ULONG count = attributes.count();
    constexpr CK_ULONG kNoBuffer = CK_UNAVAILABLE_INFORMATION;
    std::size_t capacityBytes = 0;
    ScratchBuffer capacityBlock;
    if (!multiplySize(env, count, sizeof(CK_ULONG), capacityBytes) ||
        !capacityBlock.allocate(env, capacityBytes, "no room for a template")) {
        return;
    }
    auto* capacities = reinterpret_cast<CK_ULONG*>(capacityBlock.data());
    constexpr std::size_t kAlign = alignof(CK_ULONG);
    std::size_t total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG length = attributes[i].ulValueLen;
        capacities[i] = length <= kMaxJavaArrayLength ? length : kNoBuffer;
        if (capacities[i] == kNoBuffer) {
            continue;
        }
        if (total > static_cast<std::size_t>(-1) - length - kAlign) {
            throwOutOfMemory(env, "the attribute values are too long to hold");
            return;
        }
        total = (total + kAlign - 1) / kAlign * kAlign + length;
    }
    ScratchBuffer values;
    if (!values.allocate(env, total, "no room for the attribute values")) {
        return;
    }
    // The values belong to `values`, not to the template: the pointers go before it frees.
    struct ValuesOwnedElsewhere {
        NativeTemplate& attributes;
        ~ValuesOwnedElsewhere() {
            for (CK_ULONG i = 0; i < attributes.count(); ++i) {
                attributes[i].pValue = nullptr;
            }
        }
    } valuesOwnedElsewhere{attributes};
    std::size_t offset = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (capacities[i] == kNoBuffer) {
            continue;
        }
        offset = (offset + kAlign - 1) / kAlign * kAlign;
        attributes[i].pValue = values.data() + offset;
        offset += capacities[i];
    }
    const CK_RV rv = module->C_GetAttributeValue(session, object, attributes.data(), count);
    // A CK_NOTIFY that threw during the call must not be pending while the results are built.
    HeldException callbackFailure(env);

    // The new objects replace the caller's, whatever the second call returned. A value whose
    // length the module reports above the buffer it was given is not read: it reads as null.
    CK_ULONG overrunIndex = count;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE record = attributes[i];
        if (record.pValue != nullptr && record.ulValueLen != CK_UNAVAILABLE_INFORMATION &&
            record.ulValueLen > capacities[i]) {
            record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            overrunIndex = std::min(overrunIndex, i);
        }
        LocalRef<jobject> converted(env, toJavaAttribute(env, record));
        if (!converted) {
            return;
        }
        env->SetObjectArrayElement(pTemplate, static_cast<jsize>(i), converted.get());
        if (env->ExceptionCheck()) {
            return;  // an ArrayStoreException for an array of a subclass of CK_ATTRIBUTE
        }
    }
    if (rv == CKR_OK && overrunIndex < count) {
        char message[200];
        std::snprintf(message, sizeof message,
                      "C_GetAttributeValue reported %lu bytes for attribute 0x%lX but only %lu "
                      "were allocated; its value was not read",
                      static_cast<unsigned long>(attributes[overrunIndex].ulValueLen),
                      static_cast<unsigned long>(attributes[overrunIndex].type),
                      static_cast<unsigned long>(capacities[overrunIndex]));
        throwPKCS11RuntimeException(env, message);
        return;
    }
    callbackFailure.raise();
    checkReturnValue(env, rv);
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
    CK_OBJECT_HANDLE small[256];
    NativeBuffer large;
    CK_OBJECT_HANDLE_PTR handles = small;
    if (maximum > sizeof small / sizeof small[0]) {
        if (!large.allocate(env, maximum * sizeof(CK_OBJECT_HANDLE), maximum,
                            "no room for object handles")) {
            return nullptr;
        }
        handles = large.as<CK_OBJECT_HANDLE>();
    }
    CK_ULONG found = 0;
    const CK_RV rv = module->C_FindObjects(ckULong(hSession), handles, maximum, &found);
    if (rv == CKR_OK && throwIfOverrun(env, "C_FindObjects", "handles", found, maximum)) {
        return nullptr;
    }
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaLongArray(env, handles, found);
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
