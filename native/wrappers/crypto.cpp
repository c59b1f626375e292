// Cryptographic operation functions. They come in six shapes, each written once below; a
// wrapper names its module entry (a member of CK_FUNCTION_LIST) and, where the shape needs
// one for its messages, the function's name.
//
//   initialise   C_EncryptInit and the other *Init: the mechanism, freed after the call
//   transform    C_Encrypt, the updates with output, the recoveries: input, size query, output
//                (C_Encrypt with 16 bytes more than reported: see kEncryptExtraRoom)
//   finish       C_EncryptFinal, C_DecryptFinal, C_DigestFinal, C_SignFinal: size query, output
//   feed         C_DigestUpdate, C_SignUpdate, C_VerifyUpdate, C_VerifyFinal (C_Verify: two)
//   scalar       C_DigestKey
//   sign         C_Sign: a 256-byte buffer first, no size query
#include <jni.h>

#include "convert/convert.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {

// C_Sign offers this many bytes first; a longer signature takes a second call.
constexpr CK_ULONG kFirstSignatureBytes = 256;

/// Initialise: Entry(hSession, &mechanism, hKey), or Entry(hSession, &mechanism) when no key is
/// given. The parameter and everything it points to are freed after the call.
template <auto Entry, typename... Key>
void initialise(JNIEnv* env, jobject self, jlong hSession, jobject pMechanism, Key... hKey) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    NativeMechanism mechanism;
    if (!toCkMechanism(env, pMechanism, mechanism)) {
        return;
    }
    const CK_RV rv = (module.functions()->*Entry)(ckULong(hSession), mechanism.get(), ckULong(hKey)...);
    mechanism.reset();
    checkReturnValue(env, rv);
}

// C_Encrypt offers this many bytes more than its size query reported: room for the largest
// AEAD tag (GCM, CCM, Poly1305: 16 bytes). NSS's softoken (3.87) reports the plaintext's length
// for AES-GCM, leaving the tag out, then answers CKR_BUFFER_TOO_SMALL to a buffer of that length
// and ends the operation, so no retry could help. A module that reports the true length only
// sees more room, which the standard allows; the result is the length it writes back.
constexpr CK_ULONG kEncryptExtraRoom = 16;

/// Transform: Entry(hSession, input, input length, output, &output length), first as a size
/// query, then with a buffer of the reported length (plus `extraRoom`) and the same input.
template <auto Entry>
jbyteArray transform(JNIEnv* env, jobject self, const char* function, jlong hSession,
                     jbyteArray pInput, CK_ULONG extraRoom = 0) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    InputBytes input;
    if (!copyJavaBytes(env, pInput, input)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    return queryBytes(env, function, [&](CK_BYTE_PTR output, CK_ULONG_PTR length) {
        return (module.functions()->*Entry)(session, input.data(), input.ulCount(), output, length);
    }, extraRoom);
}

/// Finish: Entry(hSession, output, &output length), first as a size query.
template <auto Entry>
jbyteArray finish(JNIEnv* env, jobject self, const char* function, jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    return queryBytes(env, function, [&](CK_BYTE_PTR output, CK_ULONG_PTR length) {
        return (module.functions()->*Entry)(session, output, length);
    });
}

/// Feed: Entry(hSession, input, input length).
template <auto Entry>
void feed(JNIEnv* env, jobject self, jlong hSession, jbyteArray pInput) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    InputBytes input;
    if (!copyJavaBytes(env, pInput, input)) {
        return;
    }
    checkReturnValue(env, (module.functions()->*Entry)(ckULong(hSession), input.data(), input.ulCount()));
}

}  // namespace

extern "C" {

// ---- encryption ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1EncryptInit)(JNIEnv* env, jobject self, jlong hSession,
                                                      jobject pMechanism, jlong hKey) {
    initialise<&CK_FUNCTION_LIST::C_EncryptInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1Encrypt)(JNIEnv* env, jobject self, jlong hSession,
                                                        jbyteArray pData) {
    return transform<&CK_FUNCTION_LIST::C_Encrypt>(env, self, "C_Encrypt", hSession, pData, kEncryptExtraRoom);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1EncryptUpdate)(JNIEnv* env, jobject self,
                                                              jlong hSession, jbyteArray pPart) {
    return transform<&CK_FUNCTION_LIST::C_EncryptUpdate>(env, self, "C_EncryptUpdate", hSession, pPart);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1EncryptFinal)(JNIEnv* env, jobject self,
                                                             jlong hSession) {
    return finish<&CK_FUNCTION_LIST::C_EncryptFinal>(env, self, "C_EncryptFinal", hSession);
}

// ---- decryption ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1DecryptInit)(JNIEnv* env, jobject self, jlong hSession,
                                                      jobject pMechanism, jlong hKey) {
    initialise<&CK_FUNCTION_LIST::C_DecryptInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1Decrypt)(JNIEnv* env, jobject self, jlong hSession,
                                                        jbyteArray pEncryptedData) {
    return transform<&CK_FUNCTION_LIST::C_Decrypt>(env, self, "C_Decrypt", hSession, pEncryptedData);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DecryptUpdate)(JNIEnv* env, jobject self,
                                                              jlong hSession,
                                                              jbyteArray pEncryptedPart) {
    return transform<&CK_FUNCTION_LIST::C_DecryptUpdate>(env, self, "C_DecryptUpdate", hSession,
                                                         pEncryptedPart);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DecryptFinal)(JNIEnv* env, jobject self,
                                                             jlong hSession) {
    return finish<&CK_FUNCTION_LIST::C_DecryptFinal>(env, self, "C_DecryptFinal", hSession);
}

// ---- digests ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1DigestInit)(JNIEnv* env, jobject self, jlong hSession,
                                                     jobject pMechanism) {
    initialise<&CK_FUNCTION_LIST::C_DigestInit>(env, self, hSession, pMechanism);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1Digest)(JNIEnv* env, jobject self, jlong hSession,
                                                       jbyteArray pData) {
    return transform<&CK_FUNCTION_LIST::C_Digest>(env, self, "C_Digest", hSession, pData);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1DigestUpdate)(JNIEnv* env, jobject self, jlong hSession,
                                                       jbyteArray pPart) {
    feed<&CK_FUNCTION_LIST::C_DigestUpdate>(env, self, hSession, pPart);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1DigestKey)(JNIEnv* env, jobject self, jlong hSession,
                                                    jlong hKey) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    checkReturnValue(env, module->C_DigestKey(ckULong(hSession), ckULong(hKey)));
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DigestFinal)(JNIEnv* env, jobject self,
                                                            jlong hSession) {
    return finish<&CK_FUNCTION_LIST::C_DigestFinal>(env, self, "C_DigestFinal", hSession);
}

// ---- signatures and MACs ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SignInit)(JNIEnv* env, jobject self, jlong hSession,
                                                   jobject pMechanism, jlong hKey) {
    initialise<&CK_FUNCTION_LIST::C_SignInit>(env, self, hSession, pMechanism, hKey);
}

// No size query: most signatures fit the first buffer, and a longer one costs one more call,
// which the standard allows to fail with CKR_BUFFER_TOO_SMALL without ending the operation.
JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1Sign)(JNIEnv* env, jobject self, jlong hSession,
                                                     jbyteArray pData) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    InputBytes data;
    if (!copyJavaBytes(env, pData, data)) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    OutputBytes signature;  // zero-filled: a module that writes less leaves no stray bytes
    CK_ULONG allocated = kFirstSignatureBytes;
    static_assert(kFirstSignatureBytes <= OutputBytes::kInline, "the first offer needs no heap block");
    signature.allocate(env, allocated, "no room for a signature");  // on the stack: cannot fail
    CK_ULONG length = allocated;
    CK_RV rv = module->C_Sign(session, data.data(), data.ulCount(), signature.data(), &length);
    if (rv == CKR_BUFFER_TOO_SMALL) {
        // Exactly the length the module asked for, and one retry only.
        if (throwIfTooLong(env, "C_Sign", "bytes", length) ||
            !signature.allocate(env, length, "no room for a signature")) {
            return nullptr;
        }
        allocated = length;
        rv = module->C_Sign(session, data.data(), data.ulCount(), signature.data(), &length);
    }
    if (rv == CKR_OK && throwIfOverrun(env, "C_Sign", "bytes", length, allocated)) {
        return nullptr;
    }
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaByteArray(env, signature.data(), length);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SignUpdate)(JNIEnv* env, jobject self, jlong hSession,
                                                     jbyteArray pPart) {
    feed<&CK_FUNCTION_LIST::C_SignUpdate>(env, self, hSession, pPart);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1SignFinal)(JNIEnv* env, jobject self,
                                                          jlong hSession) {
    return finish<&CK_FUNCTION_LIST::C_SignFinal>(env, self, "C_SignFinal", hSession);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SignRecoverInit)(JNIEnv* env, jobject self,
                                                          jlong hSession, jobject pMechanism,
                                                          jlong hKey) {
    initialise<&CK_FUNCTION_LIST::C_SignRecoverInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1SignRecover)(JNIEnv* env, jobject self,
                                                            jlong hSession, jbyteArray pData) {
    return transform<&CK_FUNCTION_LIST::C_SignRecover>(env, self, "C_SignRecover", hSession, pData);
}

// ---- verification ----

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyInit)(JNIEnv* env, jobject self, jlong hSession,
                                                     jobject pMechanism, jlong hKey) {
    initialise<&CK_FUNCTION_LIST::C_VerifyInit>(env, self, hSession, pMechanism, hKey);
}

// The feed shape with two inputs. A signature that does not verify is the module's error.
JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1Verify)(JNIEnv* env, jobject self, jlong hSession,
                                                 jbyteArray pData, jbyteArray pSignature) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    InputBytes data;
    InputBytes signature;
    if (!copyJavaBytes(env, pData, data) || !copyJavaBytes(env, pSignature, signature)) {
        return;
    }
    checkReturnValue(env, module->C_Verify(ckULong(hSession), data.data(), data.ulCount(),
                                           signature.data(), signature.ulCount()));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyUpdate)(JNIEnv* env, jobject self, jlong hSession,
                                                       jbyteArray pPart) {
    feed<&CK_FUNCTION_LIST::C_VerifyUpdate>(env, self, hSession, pPart);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyFinal)(JNIEnv* env, jobject self, jlong hSession,
                                                      jbyteArray pSignature) {
    feed<&CK_FUNCTION_LIST::C_VerifyFinal>(env, self, hSession, pSignature);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1VerifyRecoverInit)(JNIEnv* env, jobject self,
                                                            jlong hSession, jobject pMechanism,
                                                            jlong hKey) {
    initialise<&CK_FUNCTION_LIST::C_VerifyRecoverInit>(env, self, hSession, pMechanism, hKey);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1VerifyRecover)(JNIEnv* env, jobject self,
                                                              jlong hSession,
                                                              jbyteArray pSignature) {
    return transform<&CK_FUNCTION_LIST::C_VerifyRecover>(env, self, "C_VerifyRecover", hSession,
                                                         pSignature);
}

// ---- dual-function updates ----

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DigestEncryptUpdate)(JNIEnv* env, jobject self,
                                                                    jlong hSession,
                                                                    jbyteArray pPart) {
    return transform<&CK_FUNCTION_LIST::C_DigestEncryptUpdate>(env, self, "C_DigestEncryptUpdate",
                                                               hSession, pPart);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DecryptDigestUpdate)(JNIEnv* env, jobject self,
                                                                    jlong hSession,
                                                                    jbyteArray pEncryptedPart) {
    return transform<&CK_FUNCTION_LIST::C_DecryptDigestUpdate>(env, self, "C_DecryptDigestUpdate",
                                                               hSession, pEncryptedPart);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1SignEncryptUpdate)(JNIEnv* env, jobject self,
                                                                  jlong hSession,
                                                                  jbyteArray pPart) {
    return transform<&CK_FUNCTION_LIST::C_SignEncryptUpdate>(env, self, "C_SignEncryptUpdate",
                                                             hSession, pPart);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1DecryptVerifyUpdate)(JNIEnv* env, jobject self,
                                                                    jlong hSession,
                                                                    jbyteArray pEncryptedPart) {
    return transform<&CK_FUNCTION_LIST::C_DecryptVerifyUpdate>(env, self, "C_DecryptVerifyUpdate",
                                                               hSession, pEncryptedPart);
}

}  // extern "C"
