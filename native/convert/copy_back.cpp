// Results that a module leaves in a mechanism parameter record, written back into the Java
// parameter object the record was made from.
//
// The native side is trusted only as far as this library made it: a result is read through a
// pointer only when it is a buffer the NativeMechanism owns, and never beyond the bytes that
// were allocated for it, whatever length field the module wrote. The Java side may have
// changed since the conversion (another thread, a callback of the module): the mechanism type
// and the parameter's class are tested again, and arrays are written only as far as both the
// Java array and the native buffer reach.
#include <algorithm>
#include <cstring>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "convert/mechanism_cache.h"

namespace vorlen {

namespace {

/// The Java parameter of `jMechanism` when a copy-back may write into it: the Java mechanism
/// still has the native mechanism's type and its parameter is an instance of `cls`. Null (and
/// nothing to write) otherwise.
jobject javaParameter(JNIEnv* env, const NativeMechanism& mechanism, jobject jMechanism, jclass cls) {
    if (jMechanism == nullptr) {
        return nullptr;
    }
    const auto& ids = jni::mechanisms.mechanism;
    if (ckULong(env->GetLongField(jMechanism, ids.mechanism)) != mechanism.type()) {
        return nullptr;
    }
    jobject parameter = env->GetObjectField(jMechanism, ids.pParameter);
    if (parameter != nullptr && !env->IsInstanceOf(parameter, cls)) {
        env->DeleteLocalRef(parameter);
        return nullptr;
    }
    return parameter;
}

/// Overwrites the first elements of the byte[] in `field` with the bytes at `source`, of
/// which `available` were allocated: as many as both the array and the buffer hold. A null
/// array is skipped.
void updateByteArray(JNIEnv* env, jobject object, jfieldID field, const CK_BYTE* source,
                     std::size_t available) {
    LocalRef<jbyteArray> array(env, static_cast<jbyteArray>(env->GetObjectField(object, field)));
    if (!array) {
        return;
    }
    const auto length = static_cast<std::size_t>(env->GetArrayLength(array.get()));
    const std::size_t n = std::min(length, available);
    if (n == 0) {
        return;
    }
    ByteArrayElements elements(env, array.get(), 0);
    if (elements) {
        std::memcpy(elements.get(), source, n);
    }
}

/// The same for a char[]: each byte zero-extended to a char.
void updateCharArray(JNIEnv* env, jobject object, jfieldID field, const CK_BYTE* source,
                     std::size_t available) {
    LocalRef<jcharArray> array(env, static_cast<jcharArray>(env->GetObjectField(object, field)));
    if (!array) {
        return;
    }
    const auto length = static_cast<std::size_t>(env->GetArrayLength(array.get()));
    const std::size_t n = std::min(length, available);
    if (n == 0) {
        return;
    }
    CharArrayElements elements(env, array.get(), 0);
    if (elements) {
        for (std::size_t i = 0; i < n; ++i) {
            elements.get()[i] = static_cast<jchar>(source[i]);
        }
    }
}

}  // namespace

void copyBackPbeInitVector(JNIEnv* env, const NativeMechanism& mechanism, jobject jMechanism) {
    const auto* params = mechanism.record<CK_PBE_PARAMS>(ParameterKind::Pbe);
    if (params == nullptr || params->pInitVector == nullptr) {
        return;
    }
    const std::size_t available = mechanism.nestedSize(params->pInitVector);
    if (available == 0) {
        return;
    }
    HeldException pending(env);  // a callback's exception, raised again afterwards
    const auto& ids = jni::mechanisms.pbe;
    LocalRef<jobject> parameter(env, javaParameter(env, mechanism, jMechanism, ids.cls));
    if (parameter) {
        updateCharArray(env, parameter.get(), ids.pInitVector, params->pInitVector, available);
    }
}

void copyBackKeyWrapSetOaepParams(JNIEnv* env, const NativeMechanism& mechanism,
                                  jobject jMechanism) {
    const auto* params = mechanism.record<CK_KEY_WRAP_SET_OAEP_PARAMS>(ParameterKind::KeyWrapSetOaep);
    if (params == nullptr || params->pX == nullptr) {
        return;
    }
    // The module may have changed ulXLen: what was allocated is what may be read.
    const std::size_t available = mechanism.nestedSize(params->pX);
    HeldException pending(env);  // a callback's exception, raised again afterwards
    const auto& ids = jni::mechanisms.keyWrapSetOaep;
    LocalRef<jobject> parameter(env, javaParameter(env, mechanism, jMechanism, ids.cls));
    if (!parameter) {
        return;
    }
    env->SetByteField(parameter.get(), ids.bBC, static_cast<jbyte>(params->bBC));
    updateByteArray(env, parameter.get(), ids.pX, params->pX, available);
}

void copyBackSsl3MasterKeyVersion(JNIEnv* env, const NativeMechanism& mechanism,
                                  jobject jMechanism) {
    const auto* params =
        mechanism.record<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>(ParameterKind::Ssl3MasterKeyDerive);
    if (params == nullptr || params->pVersion == nullptr ||
        mechanism.nestedSize(params->pVersion) < sizeof(CK_VERSION)) {
        return;
    }
    const CK_VERSION version = *params->pVersion;
    HeldException pending(env);  // a callback's exception, raised again afterwards
    const auto& ids = jni::mechanisms.ssl3MasterKeyDerive;
    LocalRef<jobject> parameter(env, javaParameter(env, mechanism, jMechanism, ids.cls));
    if (!parameter) {
        return;
    }
    LocalRef<jobject> target(env, env->GetObjectField(parameter.get(), ids.pVersion));
    if (!target) {
        return;  // set to null since the conversion: nowhere to write
    }
    env->SetByteField(target.get(), jni::convert.versionMajor, static_cast<jbyte>(version.major));
    env->SetByteField(target.get(), jni::convert.versionMinor, static_cast<jbyte>(version.minor));
}

void copyBackSsl3KeyMatOut(JNIEnv* env, const NativeMechanism& mechanism, jobject jMechanism) {
    const auto* params = mechanism.record<CK_SSL3_KEY_MAT_PARAMS>(ParameterKind::Ssl3KeyMat);
    if (params == nullptr || params->pReturnedKeyMaterial == nullptr ||
        mechanism.nestedSize(params->pReturnedKeyMaterial) < sizeof(CK_SSL3_KEY_MAT_OUT)) {
        return;
    }
    const CK_SSL3_KEY_MAT_OUT keys = *params->pReturnedKeyMaterial;
    HeldException pending(env);  // a callback's exception, raised again afterwards
    const auto& ids = jni::mechanisms.ssl3KeyMat;
    LocalRef<jobject> parameter(env, javaParameter(env, mechanism, jMechanism, ids.cls));
    if (!parameter) {
        return;
    }
    LocalRef<jobject> target(env, env->GetObjectField(parameter.get(), ids.pReturnedKeyMaterial));
    if (!target) {
        return;  // set to null since the conversion: nowhere to write
    }
    const auto& outIds = jni::mechanisms.ssl3KeyMatOut;
    env->SetLongField(target.get(), outIds.hClientMacSecret, javaLong(keys.hClientMacSecret));
    env->SetLongField(target.get(), outIds.hServerMacSecret, javaLong(keys.hServerMacSecret));
    env->SetLongField(target.get(), outIds.hClientKey, javaLong(keys.hClientKey));
    env->SetLongField(target.get(), outIds.hServerKey, javaLong(keys.hServerKey));
    if (keys.pIVClient != nullptr) {
        updateByteArray(env, target.get(), outIds.pIVClient, keys.pIVClient,
                        mechanism.nestedSize(keys.pIVClient));
    }
    if (!env->ExceptionCheck() && keys.pIVServer != nullptr) {
        updateByteArray(env, target.get(), outIds.pIVServer, keys.pIVServer,
                        mechanism.nestedSize(keys.pIVServer));
    }
}

}  // namespace vorlen
