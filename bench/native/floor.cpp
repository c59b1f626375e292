// The floor of the overhead workloads: for each, the cheapest JNI native that returns the same
// Java result as the library. Each reads the module's function list from a field of `this` (as
// the library reads its binding handle), calls the bench module once (twice for the attributes)
// and builds the result with the fewest JNI calls: no identity check, no pin, no exception check
// (the bench module calls no callback). A failure throws IllegalStateException.
#include <jni.h>

#include <cstdio>
#include <cstring>

#include "pkcs11/pkcs11.h"

#define FLOOR(name) Java_zandrop_tesk_pkcs11_vorlen_bench_Floor_##name

namespace {

struct Ids {
    jfieldID functions;
    jclass sessionInfo;
    jfieldID slotID, state, flags, deviceError;
    jclass attribute;
    jfieldID type, value;
    jobject yes, no;
    jobject smallLongs[128];
};
Ids ids;

CK_FUNCTION_LIST_PTR list(JNIEnv* env, jobject self) {
    return reinterpret_cast<CK_FUNCTION_LIST_PTR>(env->GetLongField(self, ids.functions));
}

void fail(JNIEnv* env, const char* what, CK_RV rv) {
    char message[120];
    std::snprintf(message, sizeof message, "floor: %s returned 0x%lX", what, static_cast<unsigned long>(rv));
    jclass cls = env->FindClass("java/lang/IllegalStateException");
    if (cls != nullptr) {
        env->ThrowNew(cls, message);
    }
}

jclass global(JNIEnv* env, const char* name) {
    jclass local = env->FindClass(name);
    return local == nullptr ? nullptr : static_cast<jclass>(env->NewGlobalRef(local));
}

}  // namespace

extern "C" {

/// Caches the classes, fields and shared objects; false with an exception pending on failure.
JNIEXPORT jboolean JNICALL FLOOR(init)(JNIEnv* env, jclass floor) {
    ids.functions = env->GetFieldID(floor, "functions", "J");
    ids.sessionInfo = global(env, "zandrop/tesk/pkcs11/vorlen/api/CK_SESSION_INFO");
    ids.attribute = global(env, "zandrop/tesk/pkcs11/vorlen/api/CK_ATTRIBUTE");
    jclass booleans = env->FindClass("java/lang/Boolean");
    jclass longs = env->FindClass("java/lang/Long");
    if (ids.functions == nullptr || ids.sessionInfo == nullptr || ids.attribute == nullptr ||
        booleans == nullptr || longs == nullptr) {
        return JNI_FALSE;
    }
    ids.slotID = env->GetFieldID(ids.sessionInfo, "slotID", "J");
    ids.state = env->GetFieldID(ids.sessionInfo, "state", "J");
    ids.flags = env->GetFieldID(ids.sessionInfo, "flags", "J");
    ids.deviceError = env->GetFieldID(ids.sessionInfo, "ulDeviceError", "J");
    ids.type = env->GetFieldID(ids.attribute, "type", "J");
    ids.value = env->GetFieldID(ids.attribute, "pValue", "Ljava/lang/Object;");
    jfieldID yes = env->GetStaticFieldID(booleans, "TRUE", "Ljava/lang/Boolean;");
    jfieldID no = env->GetStaticFieldID(booleans, "FALSE", "Ljava/lang/Boolean;");
    jmethodID valueOf = env->GetStaticMethodID(longs, "valueOf", "(J)Ljava/lang/Long;");
    if (env->ExceptionCheck()) {
        return JNI_FALSE;
    }
    ids.yes = env->NewGlobalRef(env->GetStaticObjectField(booleans, yes));
    ids.no = env->NewGlobalRef(env->GetStaticObjectField(booleans, no));
    for (jlong v = 0; v < 128; ++v) {
        ids.smallLongs[v] = env->NewGlobalRef(env->CallStaticObjectMethod(longs, valueOf, v));
    }
    return env->ExceptionCheck() ? JNI_FALSE : JNI_TRUE;
}

JNIEXPORT jobject JNICALL FLOOR(sessionInfo)(JNIEnv* env, jobject self, jlong session) {
    CK_SESSION_INFO info{};
    const CK_RV rv = list(env, self)->C_GetSessionInfo(static_cast<CK_SESSION_HANDLE>(session), &info);
    if (rv != CKR_OK) {
        fail(env, "C_GetSessionInfo", rv);
        return nullptr;
    }
    jobject result = env->AllocObject(ids.sessionInfo);
    if (result == nullptr) {
        return nullptr;
    }
    env->SetLongField(result, ids.slotID, static_cast<jlong>(info.slotID));
    env->SetLongField(result, ids.state, static_cast<jlong>(info.state));
    env->SetLongField(result, ids.flags, static_cast<jlong>(info.flags));
    env->SetLongField(result, ids.deviceError, static_cast<jlong>(info.ulDeviceError));
    return result;
}

JNIEXPORT void JNICALL FLOOR(random)(JNIEnv* env, jobject self, jlong session, jbyteArray out) {
    CK_FUNCTION_LIST_PTR f = list(env, self);
    const jsize length = env->GetArrayLength(out);
    CK_BYTE bytes[256] = {};
    if (length > static_cast<jsize>(sizeof bytes)) {
        fail(env, "more than 256 random bytes", CKR_ARGUMENTS_BAD);
        return;
    }
    const CK_RV rv = f->C_GenerateRandom(static_cast<CK_SESSION_HANDLE>(session), bytes, static_cast<CK_ULONG>(length));
    if (rv != CKR_OK) {
        fail(env, "C_GenerateRandom", rv);
        return;
    }
    env->SetByteArrayRegion(out, 0, length, reinterpret_cast<const jbyte*>(bytes));
}

JNIEXPORT jbyteArray JNICALL FLOOR(sign)(JNIEnv* env, jobject self, jlong session, jbyteArray data) {
    CK_FUNCTION_LIST_PTR f = list(env, self);
    const jsize length = env->GetArrayLength(data);
    CK_BYTE in[256];
    if (length > static_cast<jsize>(sizeof in)) {
        fail(env, "more than 256 bytes to sign", CKR_ARGUMENTS_BAD);
        return nullptr;
    }
    env->GetByteArrayRegion(data, 0, length, reinterpret_cast<jbyte*>(in));
    CK_BYTE signature[512] = {};
    CK_ULONG signatureLength = sizeof signature;
    const CK_RV rv = f->C_Sign(static_cast<CK_SESSION_HANDLE>(session), in, static_cast<CK_ULONG>(length),
                               signature, &signatureLength);
    if (rv != CKR_OK) {
        fail(env, "C_Sign", rv);
        return nullptr;
    }
    jbyteArray result = env->NewByteArray(static_cast<jsize>(signatureLength));
    if (result != nullptr) {
        env->SetByteArrayRegion(result, 0, static_cast<jsize>(signatureLength), reinterpret_cast<const jbyte*>(signature));
    }
    return result;
}

JNIEXPORT jlongArray JNICALL FLOOR(findObjects)(JNIEnv* env, jobject self, jlong session, jint max) {
    CK_FUNCTION_LIST_PTR f = list(env, self);
    CK_OBJECT_HANDLE handles[256] = {};
    if (max < 0 || max > 256) {
        fail(env, "not 0 to 256 handles", CKR_ARGUMENTS_BAD);
        return nullptr;
    }
    CK_ULONG count = 0;
    const CK_RV rv = f->C_FindObjects(static_cast<CK_SESSION_HANDLE>(session), handles, static_cast<CK_ULONG>(max), &count);
    if (rv != CKR_OK || count > static_cast<CK_ULONG>(max)) {
        fail(env, "C_FindObjects", rv != CKR_OK ? rv : CKR_GENERAL_ERROR);
        return nullptr;
    }
    jlongArray result = env->NewLongArray(static_cast<jsize>(count));
    if (result != nullptr) {
        if constexpr (sizeof(jlong) == sizeof(CK_OBJECT_HANDLE)) {
            env->SetLongArrayRegion(result, 0, static_cast<jsize>(count), reinterpret_cast<const jlong*>(handles));
        } else {  // a 32-bit CK_ULONG: widened, as the library does
            jlong wide[256];
            for (CK_ULONG i = 0; i < count; ++i) {
                wide[i] = static_cast<jlong>(handles[i]);
            }
            env->SetLongArrayRegion(result, 0, static_cast<jsize>(count), wide);
        }
    }
    return result;
}

/// The template's attributes replaced by new ones with the module's values: CKA_CLASS and
/// CKA_KEY_TYPE as Long, CKA_TOKEN as Boolean, CKA_LABEL as char[], others as byte[] (the
/// types the library gives these attributes).
JNIEXPORT void JNICALL FLOOR(attributes)(JNIEnv* env, jobject self, jlong session, jlong object,
                                         jobjectArray template_) {
    CK_FUNCTION_LIST_PTR f = list(env, self);
    const jsize count = env->GetArrayLength(template_);
    if (count > 16) {
        fail(env, "more than 16 attributes", CKR_ARGUMENTS_BAD);
        return;
    }
    CK_ATTRIBUTE t[16];
    CK_BYTE values[16][64] = {};
    for (jsize i = 0; i < count; ++i) {
        jobject element = env->GetObjectArrayElement(template_, i);
        t[i] = {static_cast<CK_ATTRIBUTE_TYPE>(env->GetLongField(element, ids.type)), nullptr, 0};
    }
    const auto s = static_cast<CK_SESSION_HANDLE>(session);
    const auto o = static_cast<CK_OBJECT_HANDLE>(object);
    CK_RV rv = f->C_GetAttributeValue(s, o, t, static_cast<CK_ULONG>(count));
    for (jsize i = 0; rv == CKR_OK && i < count; ++i) {
        if (t[i].ulValueLen > sizeof values[i]) {
            rv = CKR_GENERAL_ERROR;
        }
        t[i].pValue = values[i];
    }
    if (rv == CKR_OK) {
        rv = f->C_GetAttributeValue(s, o, t, static_cast<CK_ULONG>(count));
    }
    if (rv != CKR_OK) {
        fail(env, "C_GetAttributeValue", rv);
        return;
    }
    for (jsize i = 0; i < count; ++i) {
        const jsize n = static_cast<jsize>(t[i].ulValueLen);
        jobject value = nullptr;
        switch (t[i].type) {
            case CKA_CLASS:
            case CKA_KEY_TYPE: {
                CK_ULONG v = 0;
                std::memcpy(&v, values[i], sizeof v);
                value = ids.smallLongs[v < 128 ? v : 0];  // the bench module's values are small
                break;
            }
            case CKA_TOKEN:
                value = values[i][0] != CK_FALSE ? ids.yes : ids.no;
                break;
            case CKA_LABEL: {
                jchar chars[64];
                for (jsize k = 0; k < n; ++k) {
                    chars[k] = values[i][k];
                }
                jcharArray array = env->NewCharArray(n);
                if (array == nullptr) {
                    return;
                }
                env->SetCharArrayRegion(array, 0, n, chars);
                value = array;
                break;
            }
            default: {
                jbyteArray array = env->NewByteArray(n);
                if (array == nullptr) {
                    return;
                }
                env->SetByteArrayRegion(array, 0, n, reinterpret_cast<const jbyte*>(values[i]));
                value = array;
                break;
            }
        }
        jobject attribute = env->AllocObject(ids.attribute);
        if (attribute == nullptr) {
            return;
        }
        env->SetLongField(attribute, ids.type, static_cast<jlong>(t[i].type));
        env->SetObjectField(attribute, ids.value, value);
        env->SetObjectArrayElement(template_, i, attribute);
    }
}

}  // extern "C"
