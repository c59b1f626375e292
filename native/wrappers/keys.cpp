// Key management, random number and parallel functions.
//
// Three key functions hand results of the module back through the mechanism parameter: the
// copy-back runs after the module call whatever it returned, before the parameter and what it
// points to are freed, and before the return value becomes an exception. Which records and
// mechanisms return results is the records' business (convert/parameters.cpp).
#include <jni.h>

#include "convert/convert.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {
// Room C_WrapKey's output gets beyond the reported length (see C_WrapKey): a KWP wrapping
// of any key is at most 15 bytes longer than the key.
constexpr CK_ULONG kWrapExtraRoom = 16;
}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1GenerateKey)(JNIEnv* env, jobject self, jlong hSession,
                                                       jobject pMechanism, jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    NativeMechanism mechanism;
    NativeTemplate attributes;
    if (!toCkMechanism(env, pMechanism, mechanism) ||
        !toCkAttributeArray(env, pTemplate, attributes)) {
        return 0;
    }
    CK_OBJECT_HANDLE key = 0;
    const CK_RV rv = module->C_GenerateKey(ckULong(hSession), mechanism.get(), attributes.data(),
                                           attributes.count(), &key);
    attributes.clear();
    copyBackResults(env, mechanism, ResultsOf::GenerateKey);
    mechanism.reset();
    return succeeded(env, rv) ? javaLong(key) : 0;
}

JNIEXPORT jlongArray JNICALL VORLEN_WRAPPER(C_1GenerateKeyPair)(JNIEnv* env, jobject self,
                                                                jlong hSession, jobject pMechanism,
                                                                jobjectArray pPublicKeyTemplate,
                                                                jobjectArray pPrivateKeyTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    NativeMechanism mechanism;
    NativeTemplate publicKey;
    NativeTemplate privateKey;
    if (!toCkMechanism(env, pMechanism, mechanism) ||
        !toCkAttributeArray(env, pPublicKeyTemplate, publicKey) ||
        !toCkAttributeArray(env, pPrivateKeyTemplate, privateKey)) {
        return nullptr;
    }
    CK_OBJECT_HANDLE keys[2] = {0, 0};  // public, private
    const CK_RV rv = module->C_GenerateKeyPair(ckULong(hSession), mechanism.get(), publicKey.data(),
                                               publicKey.count(), privateKey.data(),
                                               privateKey.count(), &keys[0], &keys[1]);
    publicKey.clear();
    privateKey.clear();
    mechanism.reset();
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaLongArray(env, keys, 2);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1WrapKey)(JNIEnv* env, jobject self, jlong hSession,
                                                        jobject pMechanism, jlong hWrappingKey,
                                                        jlong hKey) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    NativeMechanism mechanism;
    if (!toCkMechanism(env, pMechanism, mechanism)) {
        return nullptr;
    }
    // The size-query shape; the module gets the same mechanism twice. No copy-back. The output
    // gets kWrapExtraRoom bytes more than reported: NSS reports the key's own length for
    // CKM_AES_KEY_WRAP_KWP, leaving out the 8-byte integrity block and the padding, and then
    // refuses that room with CKR_BUFFER_TOO_SMALL. The result is the length the module wrote.
    const CK_SESSION_HANDLE session = ckULong(hSession);
    return queryBytes(env, "C_WrapKey", [&](CK_BYTE_PTR wrapped, CK_ULONG_PTR length) {
        return module->C_WrapKey(session, mechanism.get(), ckULong(hWrappingKey), ckULong(hKey),
                                 wrapped, length);
    }, kWrapExtraRoom);
}

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1UnwrapKey)(JNIEnv* env, jobject self, jlong hSession,
                                                     jobject pMechanism, jlong hUnwrappingKey,
                                                     jbyteArray pWrappedKey, jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    NativeMechanism mechanism;
    InputBytes wrapped;
    NativeTemplate attributes;
    if (!toCkMechanism(env, pMechanism, mechanism) || !copyJavaBytes(env, pWrappedKey, wrapped) ||
        !toCkAttributeArray(env, pTemplate, attributes)) {
        return 0;
    }
    CK_OBJECT_HANDLE key = 0;
    const CK_RV rv = module->C_UnwrapKey(ckULong(hSession), mechanism.get(), ckULong(hUnwrappingKey),
                                         wrapped.data(), wrapped.ulCount(), attributes.data(),
                                         attributes.count(), &key);
    attributes.clear();
    copyBackResults(env, mechanism, ResultsOf::UnwrapKey);
    mechanism.reset();
    return succeeded(env, rv) ? javaLong(key) : 0;
}

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1DeriveKey)(JNIEnv* env, jobject self, jlong hSession,
                                                     jobject pMechanism, jlong hBaseKey,
                                                     jobjectArray pTemplate) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    NativeMechanism mechanism;
    NativeTemplate attributes;
    if (!toCkMechanism(env, pMechanism, mechanism) ||
        !toCkAttributeArray(env, pTemplate, attributes)) {
        return 0;
    }
    CK_OBJECT_HANDLE key = 0;
    const CK_RV rv = module->C_DeriveKey(ckULong(hSession), mechanism.get(), ckULong(hBaseKey),
                                         attributes.data(), attributes.count(), &key);
    attributes.clear();
    copyBackResults(env, mechanism, ResultsOf::DeriveKey);
    mechanism.reset();
    return succeeded(env, rv) ? javaLong(key) : 0;
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SeedRandom)(JNIEnv* env, jobject self, jlong hSession,
                                                     jbyteArray pSeed) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    InputBytes seed;
    if (!copyJavaBytes(env, pSeed, seed)) {
        return;
    }
    checkReturnValue(env, module->C_SeedRandom(ckULong(hSession), seed.data(), seed.ulCount()));
}

// The module writes into the caller's array itself; whatever it wrote stays there, also when
// it reports an error.
JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1GenerateRandom)(JNIEnv* env, jobject self, jlong hSession,
                                                         jbyteArray RandomData) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    if (RandomData == nullptr) {
        throwNullPointer(env, "the RandomData array is null");
        return;
    }
    CK_RV rv = CKR_OK;
    const jsize length = env->GetArrayLength(RandomData);
    if (static_cast<std::size_t>(length) <= OutputBytes::kInline) {
        // Small arrays go through the stack: zero-filled, as every output, so the array is not
        // read; the module's bytes out (also after a failure), with no copy made by the VM.
        OutputBytes bytes;
        bytes.allocate(env, static_cast<std::size_t>(length), "");  // inline: cannot fail
        rv = module->C_GenerateRandom(ckULong(hSession), bytes.data(), static_cast<CK_ULONG>(length));
        if (!callbackExceptionPending(env)) {  // the common case: the copy back, done
            env->SetByteArrayRegion(RandomData, 0, length, reinterpret_cast<const jbyte*>(bytes.data()));
            if (rv != CKR_OK) {
                checkReturnValue(env, rv);
            }
            return;
        }
        HeldException callbackFailure(env);  // the copy back must not run with it pending
        env->SetByteArrayRegion(RandomData, 0, length, reinterpret_cast<const jbyte*>(bytes.data()));
        callbackFailure.raise();
        checkReturnValue(env, rv);
        return;
    }
    {
        ByteArrayElements elements(env, RandomData, 0);  // mode 0: written back and released
        if (!elements) {
            throwOutOfMemory(env, "no room for the elements of the RandomData array");
            return;
        }
        rv = module->C_GenerateRandom(ckULong(hSession), reinterpret_cast<CK_BYTE_PTR>(elements.get()),
                                      static_cast<CK_ULONG>(length));
    }
    checkReturnValue(env, rv);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1GetFunctionStatus)(JNIEnv* env, jobject self,
                                                            jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    checkReturnValue(env, module->C_GetFunctionStatus(ckULong(hSession)));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1CancelFunction)(JNIEnv* env, jobject self,
                                                         jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    checkReturnValue(env, module->C_CancelFunction(ckULong(hSession)));
}

}  // extern "C"
