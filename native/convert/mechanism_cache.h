// Classes and fields of CK_MECHANISM and of the mechanism parameter classes, looked up once
// when the library is initialised. byte[], java.lang.Long and CK_VERSION, the first three
// classes the parameter dispatch tests, come from the conversion cache (convert_cache.h).
#pragma once

#include <jni.h>

#include "core/jni_cache.h"

namespace vorlen::jni {

struct MechanismCache {
    struct {
        jclass cls;
        jfieldID mechanism, pParameter;
    } mechanism;
    struct {
        jclass cls;
        jfieldID hashAlg, mgf, source, pSourceData;
    } rsaPkcsOaep;
    struct {
        jclass cls;
        jfieldID isSender, pRandomA, pRandomB, pPublicData;
    } keaDerive;
    struct {
        jclass cls;
        jfieldID ulEffectiveBits, iv;
    } rc2Cbc;
    struct {
        jclass cls;
        jfieldID ulEffectiveBits, ulMacLength;
    } rc2MacGeneral;
    struct {
        jclass cls;
        jfieldID ulWordsize, ulRounds;
    } rc5;
    struct {
        jclass cls;
        jfieldID ulWordsize, ulRounds, pIv;
    } rc5Cbc;
    struct {
        jclass cls;
        jfieldID ulWordsize, ulRounds, ulMacLength;
    } rc5MacGeneral;
    struct {
        jclass cls;
        jfieldID pPassword, pPublicData, pRandomA, pPrimeP, pBaseG, pSubprimeQ;
    } skipjackPrivateWrap;
    struct {
        jclass cls;
        jfieldID pOldWrappedX, pOldPassword, pOldPublicData, pOldRandomA, pNewPassword,
            pNewPublicData, pNewRandomA;
    } skipjackRelayx;
    struct {
        jclass cls;
        jfieldID pInitVector, pPassword, pSalt, ulIteration;
    } pbe;
    struct {
        jclass cls;
        jfieldID saltSource, pSaltSourceData, iterations, prf, pPrfData;
    } pkcs5Pbkd2;
    struct {
        jclass cls;
        jfieldID pData;
    } keyDerivationStringData;
    struct {
        jclass cls;
        jfieldID bBC, pX;
    } keyWrapSetOaep;
    struct {
        jclass cls;
        jfieldID RandomInfo, pVersion;
    } ssl3MasterKeyDerive;
    struct {
        jclass cls;
        jfieldID ulMacSizeInBits, ulKeySizeInBits, ulIVSizeInBits, bIsExport, RandomInfo,
            pReturnedKeyMaterial;
    } ssl3KeyMat;
    struct {
        jclass cls;
        jfieldID hashAlg, mgf, sLen;
    } rsaPkcsPss;
    struct {
        jclass cls;
        jfieldID kdf, pSharedData, pPublicData;
    } ecdh1Derive;
    struct {
        jclass cls;
        jfieldID kdf, pSharedData, pPublicData, ulPrivateDataLen, hPrivateData, pPublicData2;
    } ecdh2Derive;
    struct {
        jclass cls;
        jfieldID kdf, pOtherInfo, pPublicData;
    } x942Dh1Derive;
    struct {
        jclass cls;
        jfieldID kdf, pOtherInfo, pPublicData, ulPrivateDataLen, hPrivateData, pPublicData2;
    } x942Dh2Derive;
    // Objects that the SSL3 records hold.
    struct {
        jclass cls;
        jfieldID pClientRandom, pServerRandom;
    } ssl3RandomData;
    struct {
        jclass cls;
        jfieldID hClientMacSecret, hServerMacSecret, hClientKey, hServerKey, pIVClient, pIVServer;
    } ssl3KeyMatOut;
};

extern MechanismCache mechanisms;

/// Fills `mechanisms`; called by the loader of the conversion cache.
void loadMechanismCache(Loader& loader);

}  // namespace vorlen::jni
