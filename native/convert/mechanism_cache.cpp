// Classes and fields of the mechanism conversions, looked up once when the library is
// initialised.
#include "convert/mechanism_cache.h"

namespace vorlen::jni {

MechanismCache mechanisms{};

namespace {

#define VORLEN_API "zandrop/tesk/pkcs11/vorlen/api/"

void loadRecords(Loader& l, MechanismCache& c) {
    auto& m = c.mechanism;
    m.cls = l.cls(VORLEN_API "CK_MECHANISM");
    m.mechanism = l.field(m.cls, "mechanism", "J");
    m.pParameter = l.field(m.cls, "pParameter", "Ljava/lang/Object;");

    auto& oaep = c.rsaPkcsOaep;
    oaep.cls = l.cls(VORLEN_API "CK_RSA_PKCS_OAEP_PARAMS");
    oaep.hashAlg = l.field(oaep.cls, "hashAlg", "J");
    oaep.mgf = l.field(oaep.cls, "mgf", "J");
    oaep.source = l.field(oaep.cls, "source", "J");
    oaep.pSourceData = l.field(oaep.cls, "pSourceData", "[B");

    auto& kea = c.keaDerive;
    kea.cls = l.cls(VORLEN_API "CK_KEA_DERIVE_PARAMS");
    kea.isSender = l.field(kea.cls, "isSender", "Z");
    kea.pRandomA = l.field(kea.cls, "pRandomA", "[B");
    kea.pRandomB = l.field(kea.cls, "pRandomB", "[B");
    kea.pPublicData = l.field(kea.cls, "pPublicData", "[B");

    auto& rc2 = c.rc2Cbc;
    rc2.cls = l.cls(VORLEN_API "CK_RC2_CBC_PARAMS");
    rc2.ulEffectiveBits = l.field(rc2.cls, "ulEffectiveBits", "J");
    rc2.iv = l.field(rc2.cls, "iv", "[B");

    auto& rc2Mac = c.rc2MacGeneral;
    rc2Mac.cls = l.cls(VORLEN_API "CK_RC2_MAC_GENERAL_PARAMS");
    rc2Mac.ulEffectiveBits = l.field(rc2Mac.cls, "ulEffectiveBits", "J");
    rc2Mac.ulMacLength = l.field(rc2Mac.cls, "ulMacLength", "J");

    auto& rc5 = c.rc5;
    rc5.cls = l.cls(VORLEN_API "CK_RC5_PARAMS");
    rc5.ulWordsize = l.field(rc5.cls, "ulWordsize", "J");
    rc5.ulRounds = l.field(rc5.cls, "ulRounds", "J");

    auto& rc5Cbc = c.rc5Cbc;
    rc5Cbc.cls = l.cls(VORLEN_API "CK_RC5_CBC_PARAMS");
    rc5Cbc.ulWordsize = l.field(rc5Cbc.cls, "ulWordsize", "J");
    rc5Cbc.ulRounds = l.field(rc5Cbc.cls, "ulRounds", "J");
    rc5Cbc.pIv = l.field(rc5Cbc.cls, "pIv", "[B");

    auto& rc5Mac = c.rc5MacGeneral;
    rc5Mac.cls = l.cls(VORLEN_API "CK_RC5_MAC_GENERAL_PARAMS");
    rc5Mac.ulWordsize = l.field(rc5Mac.cls, "ulWordsize", "J");
    rc5Mac.ulRounds = l.field(rc5Mac.cls, "ulRounds", "J");
    rc5Mac.ulMacLength = l.field(rc5Mac.cls, "ulMacLength", "J");

    auto& wrap = c.skipjackPrivateWrap;
    wrap.cls = l.cls(VORLEN_API "CK_SKIPJACK_PRIVATE_WRAP_PARAMS");
    wrap.pPassword = l.field(wrap.cls, "pPassword", "[B");
    wrap.pPublicData = l.field(wrap.cls, "pPublicData", "[B");
    wrap.pRandomA = l.field(wrap.cls, "pRandomA", "[B");
    wrap.pPrimeP = l.field(wrap.cls, "pPrimeP", "[B");
    wrap.pBaseG = l.field(wrap.cls, "pBaseG", "[B");
    wrap.pSubprimeQ = l.field(wrap.cls, "pSubprimeQ", "[B");

    auto& relayx = c.skipjackRelayx;
    relayx.cls = l.cls(VORLEN_API "CK_SKIPJACK_RELAYX_PARAMS");
    relayx.pOldWrappedX = l.field(relayx.cls, "pOldWrappedX", "[B");
    relayx.pOldPassword = l.field(relayx.cls, "pOldPassword", "[B");
    relayx.pOldPublicData = l.field(relayx.cls, "pOldPublicData", "[B");
    relayx.pOldRandomA = l.field(relayx.cls, "pOldRandomA", "[B");
    relayx.pNewPassword = l.field(relayx.cls, "pNewPassword", "[B");
    relayx.pNewPublicData = l.field(relayx.cls, "pNewPublicData", "[B");
    relayx.pNewRandomA = l.field(relayx.cls, "pNewRandomA", "[B");

    auto& pbe = c.pbe;
    pbe.cls = l.cls(VORLEN_API "CK_PBE_PARAMS");
    pbe.pInitVector = l.field(pbe.cls, "pInitVector", "[C");
    pbe.pPassword = l.field(pbe.cls, "pPassword", "[C");
    pbe.pSalt = l.field(pbe.cls, "pSalt", "[C");
    pbe.ulIteration = l.field(pbe.cls, "ulIteration", "J");

    auto& pbkd2 = c.pkcs5Pbkd2;
    pbkd2.cls = l.cls(VORLEN_API "CK_PKCS5_PBKD2_PARAMS");
    pbkd2.saltSource = l.field(pbkd2.cls, "saltSource", "J");
    pbkd2.pSaltSourceData = l.field(pbkd2.cls, "pSaltSourceData", "[B");
    pbkd2.iterations = l.field(pbkd2.cls, "iterations", "J");
    pbkd2.prf = l.field(pbkd2.cls, "prf", "J");
    pbkd2.pPrfData = l.field(pbkd2.cls, "pPrfData", "[B");

    auto& string = c.keyDerivationStringData;
    string.cls = l.cls(VORLEN_API "CK_KEY_DERIVATION_STRING_DATA");
    string.pData = l.field(string.cls, "pData", "[B");

    auto& setOaep = c.keyWrapSetOaep;
    setOaep.cls = l.cls(VORLEN_API "CK_KEY_WRAP_SET_OAEP_PARAMS");
    setOaep.bBC = l.field(setOaep.cls, "bBC", "B");
    setOaep.pX = l.field(setOaep.cls, "pX", "[B");

    auto& master = c.ssl3MasterKeyDerive;
    master.cls = l.cls(VORLEN_API "CK_SSL3_MASTER_KEY_DERIVE_PARAMS");
    master.RandomInfo = l.field(master.cls, "RandomInfo", "L" VORLEN_API "CK_SSL3_RANDOM_DATA;");
    master.pVersion = l.field(master.cls, "pVersion", "L" VORLEN_API "CK_VERSION;");

    auto& keyMat = c.ssl3KeyMat;
    keyMat.cls = l.cls(VORLEN_API "CK_SSL3_KEY_MAT_PARAMS");
    keyMat.ulMacSizeInBits = l.field(keyMat.cls, "ulMacSizeInBits", "J");
    keyMat.ulKeySizeInBits = l.field(keyMat.cls, "ulKeySizeInBits", "J");
    keyMat.ulIVSizeInBits = l.field(keyMat.cls, "ulIVSizeInBits", "J");
    keyMat.bIsExport = l.field(keyMat.cls, "bIsExport", "Z");
    keyMat.RandomInfo = l.field(keyMat.cls, "RandomInfo", "L" VORLEN_API "CK_SSL3_RANDOM_DATA;");
    keyMat.pReturnedKeyMaterial =
        l.field(keyMat.cls, "pReturnedKeyMaterial", "L" VORLEN_API "CK_SSL3_KEY_MAT_OUT;");

    auto& pss = c.rsaPkcsPss;
    pss.cls = l.cls(VORLEN_API "CK_RSA_PKCS_PSS_PARAMS");
    pss.hashAlg = l.field(pss.cls, "hashAlg", "J");
    pss.mgf = l.field(pss.cls, "mgf", "J");
    pss.sLen = l.field(pss.cls, "sLen", "J");

    auto& ecdh1 = c.ecdh1Derive;
    ecdh1.cls = l.cls(VORLEN_API "CK_ECDH1_DERIVE_PARAMS");
    ecdh1.kdf = l.field(ecdh1.cls, "kdf", "J");
    ecdh1.pSharedData = l.field(ecdh1.cls, "pSharedData", "[B");
    ecdh1.pPublicData = l.field(ecdh1.cls, "pPublicData", "[B");

    auto& ecdh2 = c.ecdh2Derive;
    ecdh2.cls = l.cls(VORLEN_API "CK_ECDH2_DERIVE_PARAMS");
    ecdh2.kdf = l.field(ecdh2.cls, "kdf", "J");
    ecdh2.pSharedData = l.field(ecdh2.cls, "pSharedData", "[B");
    ecdh2.pPublicData = l.field(ecdh2.cls, "pPublicData", "[B");
    ecdh2.ulPrivateDataLen = l.field(ecdh2.cls, "ulPrivateDataLen", "J");
    ecdh2.hPrivateData = l.field(ecdh2.cls, "hPrivateData", "J");
    ecdh2.pPublicData2 = l.field(ecdh2.cls, "pPublicData2", "[B");

    auto& dh1 = c.x942Dh1Derive;
    dh1.cls = l.cls(VORLEN_API "CK_X9_42_DH1_DERIVE_PARAMS");
    dh1.kdf = l.field(dh1.cls, "kdf", "J");
    dh1.pOtherInfo = l.field(dh1.cls, "pOtherInfo", "[B");
    dh1.pPublicData = l.field(dh1.cls, "pPublicData", "[B");

    auto& dh2 = c.x942Dh2Derive;
    dh2.cls = l.cls(VORLEN_API "CK_X9_42_DH2_DERIVE_PARAMS");
    dh2.kdf = l.field(dh2.cls, "kdf", "J");
    dh2.pOtherInfo = l.field(dh2.cls, "pOtherInfo", "[B");
    dh2.pPublicData = l.field(dh2.cls, "pPublicData", "[B");
    dh2.ulPrivateDataLen = l.field(dh2.cls, "ulPrivateDataLen", "J");
    dh2.hPrivateData = l.field(dh2.cls, "hPrivateData", "J");
    dh2.pPublicData2 = l.field(dh2.cls, "pPublicData2", "[B");

    auto& random = c.ssl3RandomData;
    random.cls = l.cls(VORLEN_API "CK_SSL3_RANDOM_DATA");
    random.pClientRandom = l.field(random.cls, "pClientRandom", "[B");
    random.pServerRandom = l.field(random.cls, "pServerRandom", "[B");

    auto& out = c.ssl3KeyMatOut;
    out.cls = l.cls(VORLEN_API "CK_SSL3_KEY_MAT_OUT");
    out.hClientMacSecret = l.field(out.cls, "hClientMacSecret", "J");
    out.hServerMacSecret = l.field(out.cls, "hServerMacSecret", "J");
    out.hClientKey = l.field(out.cls, "hClientKey", "J");
    out.hServerKey = l.field(out.cls, "hServerKey", "J");
    out.pIVClient = l.field(out.cls, "pIVClient", "[B");
    out.pIVServer = l.field(out.cls, "pIVServer", "[B");
}

#undef VORLEN_API

}  // namespace

void loadMechanismCache(Loader& loader) { loadRecords(loader, mechanisms); }

}  // namespace vorlen::jni
