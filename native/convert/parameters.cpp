// The twenty mechanism parameter records, each filled from an object of its Java class.
//
// Fields are read in the order of the record's Java class. A long gives the low bits that fit
// in a CK_ULONG, a boolean CK_TRUE only when it equals 1, a byte[] or char[] a new buffer
// (kept by the NativeMechanism) and, where the record has one, its length field.
#include <cstdio>
#include <cstring>

#include "convert/convert.h"
#include "convert/mechanism_cache.h"
#include "core/exceptions.h"

namespace vorlen {

namespace {

CK_ULONG longField(JNIEnv* env, jobject object, jfieldID field) {
    return ckULong(env->GetLongField(object, field));
}

CK_BBOOL booleanField(JNIEnv* env, jobject object, jfieldID field) {
    return ckBBool(env->GetBooleanField(object, field));
}

/// An object field; NullPointerException "<what> is null" when it holds null.
bool present(JNIEnv* env, const LocalRef<jobject>& value, const char* what) {
    if (!value) {
        throwNullPointer(env, what);
        return false;
    }
    return true;
}

/// Makes `buffer` hold at least `minimum` bytes: the bytes it holds, then zeros. Its count
/// stays the element count of the Java array.
bool growTo(JNIEnv* env, NativeBuffer& buffer, std::size_t minimum) {
    if (buffer.isNull() || buffer.size() >= minimum) {
        return true;
    }
    NativeBuffer larger;
    if (!larger.allocate(env, minimum, buffer.count(), "no room for a mechanism parameter")) {
        return false;
    }
    std::memset(larger.get(), 0, minimum);
    if (buffer.size() > 0) {
        std::memcpy(larger.get(), buffer.get(), buffer.size());
    }
    buffer = std::move(larger);
    return true;
}

/// A buffer handed to the NativeMechanism: its address and the element count of its array.
/// Records take both by plain assignment (they may be packed, so no reference to one of their
/// fields is ever made).
struct Kept {
    void* pointer = nullptr;
    CK_ULONG count = 0;
    CK_BYTE_PTR bytes() const { return static_cast<CK_BYTE_PTR>(pointer); }
};

bool keep(JNIEnv* env, NativeMechanism& owner, NativeBuffer& buffer, Kept& out) {
    out.count = buffer.count();
    return owner.keep(env, std::move(buffer), out.pointer);
}

/// The byte[] of `field`, copied; at least `minimum` bytes when it is not null.
bool byteArrayField(JNIEnv* env, jobject object, jfieldID field, NativeMechanism& owner, Kept& out,
                    std::size_t minimum = 0) {
    LocalRef<jbyteArray> array(env, static_cast<jbyteArray>(env->GetObjectField(object, field)));
    NativeBuffer copy;
    return toCkByteArray(env, array.get(), copy) && growTo(env, copy, minimum) &&
           keep(env, owner, copy, out);
}

/// The char[] of `field`, one byte per char; at least `minimum` bytes when it is not null.
bool charArrayField(JNIEnv* env, jobject object, jfieldID field, NativeMechanism& owner, Kept& out,
                    std::size_t minimum = 0) {
    LocalRef<jcharArray> array(env, static_cast<jcharArray>(env->GetObjectField(object, field)));
    NativeBuffer copy;
    return toCkCharArray(env, array.get(), copy) && growTo(env, copy, minimum) &&
           keep(env, owner, copy, out);
}

}  // namespace

bool toCkRsaPkcsOaepParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                           CK_RSA_PKCS_OAEP_PARAMS& out) {
    const auto& ids = jni::mechanisms.rsaPkcsOaep;
    out.hashAlg = longField(env, params, ids.hashAlg);
    out.mgf = longField(env, params, ids.mgf);
    out.source = longField(env, params, ids.source);
    Kept source;
    if (!byteArrayField(env, params, ids.pSourceData, owner, source)) {
        return false;
    }
    out.pSourceData = source.pointer;
    out.ulSourceDataLen = source.count;
    return true;
}

bool toCkKeaDeriveParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                         CK_KEA_DERIVE_PARAMS& out) {
    const auto& ids = jni::mechanisms.keaDerive;
    out.isSender = booleanField(env, params, ids.isSender);
    Kept randomA, randomB, publicData;
    if (!byteArrayField(env, params, ids.pRandomA, owner, randomA) ||
        !byteArrayField(env, params, ids.pRandomB, owner, randomB) ||
        !byteArrayField(env, params, ids.pPublicData, owner, publicData)) {
        return false;
    }
    // One length serves both random values: the length of pRandomB.
    out.pRandomA = randomA.bytes();
    out.pRandomB = randomB.bytes();
    out.ulRandomLen = randomB.count;
    out.pPublicData = publicData.bytes();
    out.ulPublicDataLen = publicData.count;
    return true;
}

bool toCkRc2CbcParams(JNIEnv* env, jobject params, NativeMechanism& /*owner*/,
                      CK_RC2_CBC_PARAMS& out) {
    const auto& ids = jni::mechanisms.rc2Cbc;
    out.ulEffectiveBits = longField(env, params, ids.ulEffectiveBits);
    // The IV lives in the record itself: exactly 8 bytes, never more and never fewer.
    LocalRef<jbyteArray> iv(env, static_cast<jbyteArray>(env->GetObjectField(params, ids.iv)));
    if (!iv) {
        throwNullPointer(env, "CK_RC2_CBC_PARAMS.iv is null");
        return false;
    }
    const jsize length = env->GetArrayLength(iv.get());
    if (length != static_cast<jsize>(sizeof out.iv)) {
        char message[120];
        std::snprintf(message, sizeof message, "CK_RC2_CBC_PARAMS.iv must have %u elements, not %ld",
                      static_cast<unsigned>(sizeof out.iv), static_cast<long>(length));
        throwIllegalArgument(env, message);
        return false;
    }
    env->GetByteArrayRegion(iv.get(), 0, length, reinterpret_cast<jbyte*>(out.iv));
    return true;
}

bool toCkRc2MacGeneralParams(JNIEnv* env, jobject params, NativeMechanism& /*owner*/,
                             CK_RC2_MAC_GENERAL_PARAMS& out) {
    const auto& ids = jni::mechanisms.rc2MacGeneral;
    out.ulEffectiveBits = longField(env, params, ids.ulEffectiveBits);
    out.ulMacLength = longField(env, params, ids.ulMacLength);
    return true;
}

bool toCkRc5Params(JNIEnv* env, jobject params, NativeMechanism& /*owner*/, CK_RC5_PARAMS& out) {
    const auto& ids = jni::mechanisms.rc5;
    out.ulWordsize = longField(env, params, ids.ulWordsize);
    out.ulRounds = longField(env, params, ids.ulRounds);
    return true;
}

bool toCkRc5CbcParams(JNIEnv* env, jobject params, NativeMechanism& owner, CK_RC5_CBC_PARAMS& out) {
    const auto& ids = jni::mechanisms.rc5Cbc;
    out.ulWordsize = longField(env, params, ids.ulWordsize);
    out.ulRounds = longField(env, params, ids.ulRounds);
    Kept iv;
    if (!byteArrayField(env, params, ids.pIv, owner, iv)) {
        return false;
    }
    out.pIv = iv.bytes();
    out.ulIvLen = iv.count;
    return true;
}

bool toCkRc5MacGeneralParams(JNIEnv* env, jobject params, NativeMechanism& /*owner*/,
                             CK_RC5_MAC_GENERAL_PARAMS& out) {
    const auto& ids = jni::mechanisms.rc5MacGeneral;
    out.ulWordsize = longField(env, params, ids.ulWordsize);
    out.ulRounds = longField(env, params, ids.ulRounds);
    out.ulMacLength = longField(env, params, ids.ulMacLength);
    return true;
}

bool toCkSkipjackPrivateWrapParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                                   CK_SKIPJACK_PRIVATE_WRAP_PARAMS& out) {
    const auto& ids = jni::mechanisms.skipjackPrivateWrap;
    Kept password, publicData, randomA, primeP, baseG, subprimeQ;
    if (!byteArrayField(env, params, ids.pPassword, owner, password) ||
        !byteArrayField(env, params, ids.pPublicData, owner, publicData) ||
        !byteArrayField(env, params, ids.pRandomA, owner, randomA) ||
        !byteArrayField(env, params, ids.pPrimeP, owner, primeP) ||
        !byteArrayField(env, params, ids.pBaseG, owner, baseG) ||
        !byteArrayField(env, params, ids.pSubprimeQ, owner, subprimeQ)) {
        return false;
    }
    out.pPassword = password.bytes();
    out.ulPasswordLen = password.count;
    out.pPublicData = publicData.bytes();
    out.ulPublicDataLen = publicData.count;
    out.pRandomA = randomA.bytes();
    out.ulRandomLen = randomA.count;
    // One length serves pPrimeP and pBaseG: the length of pBaseG.
    out.pPrimeP = primeP.bytes();
    out.pBaseG = baseG.bytes();
    out.ulPAndGLen = baseG.count;
    out.pSubprimeQ = subprimeQ.bytes();
    out.ulQLen = subprimeQ.count;
    return true;
}

bool toCkSkipjackRelayxParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                              CK_SKIPJACK_RELAYX_PARAMS& out) {
    const auto& ids = jni::mechanisms.skipjackRelayx;
    Kept oldWrappedX, oldPassword, oldPublicData, oldRandomA, newPassword, newPublicData, newRandomA;
    if (!byteArrayField(env, params, ids.pOldWrappedX, owner, oldWrappedX) ||
        !byteArrayField(env, params, ids.pOldPassword, owner, oldPassword) ||
        !byteArrayField(env, params, ids.pOldPublicData, owner, oldPublicData) ||
        !byteArrayField(env, params, ids.pOldRandomA, owner, oldRandomA) ||
        !byteArrayField(env, params, ids.pNewPassword, owner, newPassword) ||
        !byteArrayField(env, params, ids.pNewPublicData, owner, newPublicData) ||
        !byteArrayField(env, params, ids.pNewRandomA, owner, newRandomA)) {
        return false;
    }
    out.pOldWrappedX = oldWrappedX.bytes();
    out.ulOldWrappedXLen = oldWrappedX.count;
    out.pOldPassword = oldPassword.bytes();
    out.ulOldPasswordLen = oldPassword.count;
    out.pOldPublicData = oldPublicData.bytes();
    out.ulOldPublicDataLen = oldPublicData.count;
    out.pOldRandomA = oldRandomA.bytes();
    out.ulOldRandomLen = oldRandomA.count;
    out.pNewPassword = newPassword.bytes();
    out.ulNewPasswordLen = newPassword.count;
    out.pNewPublicData = newPublicData.bytes();
    out.ulNewPublicDataLen = newPublicData.count;
    out.pNewRandomA = newRandomA.bytes();
    out.ulNewRandomLen = newRandomA.count;
    return true;
}

bool toCkPbeParams(JNIEnv* env, jobject params, NativeMechanism& owner, CK_PBE_PARAMS& out) {
    // The PBE key generations write an 8-byte IV into pInitVector, whatever the array's length.
    constexpr std::size_t kInitVectorBytes = 8;
    const auto& ids = jni::mechanisms.pbe;
    Kept initVector, password, salt;
    if (!charArrayField(env, params, ids.pInitVector, owner, initVector, kInitVectorBytes) ||
        !charArrayField(env, params, ids.pPassword, owner, password) ||
        !charArrayField(env, params, ids.pSalt, owner, salt)) {
        return false;
    }
    out.pInitVector = initVector.bytes();
    out.pPassword = password.bytes();
    out.ulPasswordLen = password.count;
    out.pSalt = salt.bytes();
    out.ulSaltLen = salt.count;
    out.ulIteration = longField(env, params, ids.ulIteration);
    return true;
}

bool toCkPkcs5Pbkd2Params(JNIEnv* env, jobject params, NativeMechanism& owner,
                          CK_PKCS5_PBKD2_PARAMS& out) {
    const auto& ids = jni::mechanisms.pkcs5Pbkd2;
    out.saltSource = longField(env, params, ids.saltSource);
    Kept saltSourceData;
    if (!byteArrayField(env, params, ids.pSaltSourceData, owner, saltSourceData)) {
        return false;
    }
    out.pSaltSourceData = saltSourceData.pointer;
    out.ulSaltSourceDataLen = saltSourceData.count;
    out.iterations = longField(env, params, ids.iterations);
    out.prf = longField(env, params, ids.prf);
    Kept prfData;
    if (!byteArrayField(env, params, ids.pPrfData, owner, prfData)) {
        return false;
    }
    out.pPrfData = prfData.pointer;
    out.ulPrfDataLen = prfData.count;
    // The Java class has no password: the module finds null pointers, never stray bytes.
    out.pPassword = nullptr;
    out.ulPasswordLen = nullptr;
    return true;
}

bool toCkKeyDerivationStringData(JNIEnv* env, jobject params, NativeMechanism& owner,
                                 CK_KEY_DERIVATION_STRING_DATA& out) {
    Kept data;
    if (!byteArrayField(env, params, jni::mechanisms.keyDerivationStringData.pData, owner, data)) {
        return false;
    }
    out.pData = data.bytes();
    out.ulLen = data.count;
    return true;
}

bool toCkKeyWrapSetOaepParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                              CK_KEY_WRAP_SET_OAEP_PARAMS& out) {
    const auto& ids = jni::mechanisms.keyWrapSetOaep;
    out.bBC = static_cast<CK_BYTE>(env->GetByteField(params, ids.bBC));
    Kept x;
    if (!byteArrayField(env, params, ids.pX, owner, x)) {
        return false;
    }
    out.pX = x.bytes();
    out.ulXLen = x.count;
    return true;
}

bool toCkSsl3RandomData(JNIEnv* env, jobject randomData, NativeMechanism& owner,
                        CK_SSL3_RANDOM_DATA& out) {
    if (randomData == nullptr) {
        throwNullPointer(env, "a CK_SSL3_RANDOM_DATA is null");
        return false;
    }
    const auto& ids = jni::mechanisms.ssl3RandomData;
    Kept client, server;
    if (!byteArrayField(env, randomData, ids.pClientRandom, owner, client) ||
        !byteArrayField(env, randomData, ids.pServerRandom, owner, server)) {
        return false;
    }
    out.pClientRandom = client.bytes();
    out.ulClientRandomLen = client.count;
    out.pServerRandom = server.bytes();
    out.ulServerRandomLen = server.count;
    return true;
}

namespace {

/// The random data of an SSL3 record, from its object field "RandomInfo".
bool randomInfoField(JNIEnv* env, jobject params, jfieldID field, const char* whenNull,
                     NativeMechanism& owner, CK_SSL3_RANDOM_DATA& out) {
    LocalRef<jobject> random(env, env->GetObjectField(params, field));
    CK_SSL3_RANDOM_DATA native;
    std::memset(&native, 0, sizeof native);
    if (!present(env, random, whenNull) || !toCkSsl3RandomData(env, random.get(), owner, native)) {
        return false;
    }
    out = native;
    return true;
}

}  // namespace

bool toCkSsl3MasterKeyDeriveParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                                   CK_SSL3_MASTER_KEY_DERIVE_PARAMS& out) {
    const auto& ids = jni::mechanisms.ssl3MasterKeyDerive;
    if (!randomInfoField(env, params, ids.RandomInfo,
                         "CK_SSL3_MASTER_KEY_DERIVE_PARAMS.RandomInfo is null", owner, out.RandomInfo)) {
        return false;
    }
    // The module writes the protocol version into a CK_VERSION of the library's.
    LocalRef<jobject> version(env, env->GetObjectField(params, ids.pVersion));
    NativeBuffer native;
    Kept kept;
    if (!present(env, version, "CK_SSL3_MASTER_KEY_DERIVE_PARAMS.pVersion is null") ||
        !toCkVersion(env, version.get(), native) || !keep(env, owner, native, kept)) {
        return false;
    }
    out.pVersion = static_cast<CK_VERSION_PTR>(kept.pointer);
    return true;
}

bool toCkSsl3KeyMatParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                          CK_SSL3_KEY_MAT_PARAMS& out) {
    const auto& ids = jni::mechanisms.ssl3KeyMat;
    out.ulMacSizeInBits = longField(env, params, ids.ulMacSizeInBits);
    out.ulKeySizeInBits = longField(env, params, ids.ulKeySizeInBits);
    out.ulIVSizeInBits = longField(env, params, ids.ulIVSizeInBits);
    out.bIsExport = booleanField(env, params, ids.bIsExport);
    if (!randomInfoField(env, params, ids.RandomInfo, "CK_SSL3_KEY_MAT_PARAMS.RandomInfo is null", owner,
                         out.RandomInfo)) {
        return false;
    }
    LocalRef<jobject> material(env, env->GetObjectField(params, ids.pReturnedKeyMaterial));
    if (!present(env, material, "CK_SSL3_KEY_MAT_PARAMS.pReturnedKeyMaterial is null")) {
        return false;
    }
    // The module writes ulIVSizeInBits / 8 bytes into each IV buffer: each has room for them.
    const CK_ULONG ivBytes = out.ulIVSizeInBits / 8;
    if (ivBytes > kMaxJavaArrayLength) {
        throwIllegalArgument(env, "CK_SSL3_KEY_MAT_PARAMS.ulIVSizeInBits is too large");
        return false;
    }
    // The handles start as the Java object holds them; the module overwrites them.
    const auto& outIds = jni::mechanisms.ssl3KeyMatOut;
    CK_SSL3_KEY_MAT_OUT keys;
    std::memset(&keys, 0, sizeof keys);
    keys.hClientMacSecret = longField(env, material.get(), outIds.hClientMacSecret);
    keys.hServerMacSecret = longField(env, material.get(), outIds.hServerMacSecret);
    keys.hClientKey = longField(env, material.get(), outIds.hClientKey);
    keys.hServerKey = longField(env, material.get(), outIds.hServerKey);
    Kept ivClient, ivServer;
    if (!byteArrayField(env, material.get(), outIds.pIVClient, owner, ivClient, ivBytes) ||
        !byteArrayField(env, material.get(), outIds.pIVServer, owner, ivServer, ivBytes)) {
        return false;
    }
    keys.pIVClient = ivClient.bytes();
    keys.pIVServer = ivServer.bytes();
    NativeBuffer native;
    Kept kept;
    if (!native.allocate(env, sizeof keys, sizeof keys, "no room for a CK_SSL3_KEY_MAT_OUT")) {
        return false;
    }
    std::memcpy(native.get(), &keys, sizeof keys);
    if (!keep(env, owner, native, kept)) {
        return false;
    }
    out.pReturnedKeyMaterial = static_cast<CK_SSL3_KEY_MAT_OUT_PTR>(kept.pointer);
    return true;
}

bool toCkRsaPkcsPssParams(JNIEnv* env, jobject params, NativeMechanism& /*owner*/,
                          CK_RSA_PKCS_PSS_PARAMS& out) {
    const auto& ids = jni::mechanisms.rsaPkcsPss;
    out.hashAlg = longField(env, params, ids.hashAlg);
    out.mgf = longField(env, params, ids.mgf);
    out.sLen = longField(env, params, ids.sLen);
    return true;
}

bool toCkEcdh1DeriveParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                           CK_ECDH1_DERIVE_PARAMS& out) {
    const auto& ids = jni::mechanisms.ecdh1Derive;
    out.kdf = longField(env, params, ids.kdf);
    Kept shared, publicData;
    if (!byteArrayField(env, params, ids.pSharedData, owner, shared) ||
        !byteArrayField(env, params, ids.pPublicData, owner, publicData)) {
        return false;
    }
    out.pSharedData = shared.bytes();
    out.ulSharedDataLen = shared.count;
    out.pPublicData = publicData.bytes();
    out.ulPublicDataLen = publicData.count;
    return true;
}

bool toCkEcdh2DeriveParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                           CK_ECDH2_DERIVE_PARAMS& out) {
    const auto& ids = jni::mechanisms.ecdh2Derive;
    out.kdf = longField(env, params, ids.kdf);
    Kept shared, publicData, publicData2;
    if (!byteArrayField(env, params, ids.pSharedData, owner, shared) ||
        !byteArrayField(env, params, ids.pPublicData, owner, publicData)) {
        return false;
    }
    // Given by the caller, not derived from an array.
    out.ulPrivateDataLen = longField(env, params, ids.ulPrivateDataLen);
    out.hPrivateData = longField(env, params, ids.hPrivateData);
    if (!byteArrayField(env, params, ids.pPublicData2, owner, publicData2)) {
        return false;
    }
    out.pSharedData = shared.bytes();
    out.ulSharedDataLen = shared.count;
    out.pPublicData = publicData.bytes();
    out.ulPublicDataLen = publicData.count;
    out.pPublicData2 = publicData2.bytes();
    out.ulPublicDataLen2 = publicData2.count;
    return true;
}

bool toCkX942Dh1DeriveParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                             CK_X9_42_DH1_DERIVE_PARAMS& out) {
    const auto& ids = jni::mechanisms.x942Dh1Derive;
    out.kdf = longField(env, params, ids.kdf);
    Kept otherInfo, publicData;
    if (!byteArrayField(env, params, ids.pOtherInfo, owner, otherInfo) ||
        !byteArrayField(env, params, ids.pPublicData, owner, publicData)) {
        return false;
    }
    out.pOtherInfo = otherInfo.bytes();
    out.ulOtherInfoLen = otherInfo.count;
    out.pPublicData = publicData.bytes();
    out.ulPublicDataLen = publicData.count;
    return true;
}

bool toCkX942Dh2DeriveParams(JNIEnv* env, jobject params, NativeMechanism& owner,
                             CK_X9_42_DH2_DERIVE_PARAMS& out) {
    const auto& ids = jni::mechanisms.x942Dh2Derive;
    out.kdf = longField(env, params, ids.kdf);
    Kept otherInfo, publicData, publicData2;
    if (!byteArrayField(env, params, ids.pOtherInfo, owner, otherInfo) ||
        !byteArrayField(env, params, ids.pPublicData, owner, publicData)) {
        return false;
    }
    // Given by the caller, not derived from an array.
    out.ulPrivateDataLen = longField(env, params, ids.ulPrivateDataLen);
    out.hPrivateData = longField(env, params, ids.hPrivateData);
    if (!byteArrayField(env, params, ids.pPublicData2, owner, publicData2)) {
        return false;
    }
    out.pOtherInfo = otherInfo.bytes();
    out.ulOtherInfoLen = otherInfo.count;
    out.pPublicData = publicData.bytes();
    out.ulPublicDataLen = publicData.count;
    out.pPublicData2 = publicData2.bytes();
    out.ulPublicDataLen2 = publicData2.count;
    return true;
}

}  // namespace vorlen
