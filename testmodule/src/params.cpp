// Decoding of mechanism parameter records for the record: a step with
// `decode=<STRUCT>` makes an entry that records a mechanism read pParameter
// as that structure and record each field as `param.<field>=`. Scalars are
// decimal; buffers are read by the length field the structure gives them (or
// their fixed size) as `hex:` or `null`; pointers that are only passed on are
// `ptr` or `null`.
//
// A block whose length is not the structure's size is not read: the line
// gets `param=mismatch`; otherwise it gets `param=<STRUCT>` first.
#include "framework.hpp"

#include <algorithm>
#include <cstring>

namespace vtm {

namespace {

/// How one field of a parameter record is decoded.
struct ParamField {
    enum class Kind {
        Ulong,    ///< a CK_ULONG
        Byte,     ///< a CK_BYTE or CK_BBOOL
        Bytes,    ///< a pointer, its bytes counted by the CK_ULONG at `extra`
        Fixed,    ///< a pointer to `extra` bytes
        Inline,   ///< `extra` bytes in the record itself
        Pointer,  ///< a pointer recorded as ptr or null only
        KeyMat,   ///< a CK_SSL3_KEY_MAT_OUT pointer; IV bits in the CK_ULONG at `extra`
        BitBytes, ///< a pointer, its length in bits in the CK_ULONG at `extra`
        Record,   ///< a pointer to the record `record`, decoded as `<field>.<its fields>`
        Records,  ///< a pointer to CK_ULONG at `extra` records `record`: `<field>[i].<its fields>`
        Value,    ///< a pointer, its bytes counted by the CK_ULONG at `extra` (raw bytes)
        Template, ///< a CK_ATTRIBUTE pointer, its count in the CK_ULONG at `extra`
        Handle,   ///< a pointer to a CK_ULONG, recorded as its value (or null)
    };
    const char* name;
    std::size_t offset;
    Kind kind;
    std::size_t extra;
    const char* record = nullptr;
};

struct ParamStruct {
    const char* name;
    std::size_t size;
    std::vector<ParamField> fields;
};

using K = ParamField::Kind;

#define VTM_UL(T, f) {#f, offsetof(T, f), K::Ulong, 0}
#define VTM_BYTE(T, f) {#f, offsetof(T, f), K::Byte, 0}
#define VTM_BYTES(T, f, len) {#f, offsetof(T, f), K::Bytes, offsetof(T, len)}
#define VTM_RANDOM(T)                                                                                   \
    {"RandomInfo.pClientRandom", offsetof(T, RandomInfo) + offsetof(CK_SSL3_RANDOM_DATA, pClientRandom), \
     K::Bytes, offsetof(T, RandomInfo) + offsetof(CK_SSL3_RANDOM_DATA, ulClientRandomLen)},              \
        {"RandomInfo.ulClientRandomLen",                                                                 \
         offsetof(T, RandomInfo) + offsetof(CK_SSL3_RANDOM_DATA, ulClientRandomLen), K::Ulong, 0},       \
        {"RandomInfo.pServerRandom", offsetof(T, RandomInfo) + offsetof(CK_SSL3_RANDOM_DATA, pServerRandom), \
         K::Bytes, offsetof(T, RandomInfo) + offsetof(CK_SSL3_RANDOM_DATA, ulServerRandomLen)},          \
        {"RandomInfo.ulServerRandomLen",                                                                 \
         offsetof(T, RandomInfo) + offsetof(CK_SSL3_RANDOM_DATA, ulServerRandomLen), K::Ulong, 0}

const std::vector<ParamStruct>& structs() {
    static const std::vector<ParamStruct> table = {
        {"CK_RSA_PKCS_OAEP_PARAMS", sizeof(CK_RSA_PKCS_OAEP_PARAMS),
         {VTM_UL(CK_RSA_PKCS_OAEP_PARAMS, hashAlg), VTM_UL(CK_RSA_PKCS_OAEP_PARAMS, mgf),
          VTM_UL(CK_RSA_PKCS_OAEP_PARAMS, source),
          VTM_BYTES(CK_RSA_PKCS_OAEP_PARAMS, pSourceData, ulSourceDataLen),
          VTM_UL(CK_RSA_PKCS_OAEP_PARAMS, ulSourceDataLen)}},
        {"CK_KEA_DERIVE_PARAMS", sizeof(CK_KEA_DERIVE_PARAMS),
         {VTM_BYTE(CK_KEA_DERIVE_PARAMS, isSender), VTM_UL(CK_KEA_DERIVE_PARAMS, ulRandomLen),
          VTM_BYTES(CK_KEA_DERIVE_PARAMS, pRandomA, ulRandomLen),
          VTM_BYTES(CK_KEA_DERIVE_PARAMS, pRandomB, ulRandomLen),
          VTM_UL(CK_KEA_DERIVE_PARAMS, ulPublicDataLen),
          VTM_BYTES(CK_KEA_DERIVE_PARAMS, pPublicData, ulPublicDataLen)}},
        {"CK_RC2_CBC_PARAMS", sizeof(CK_RC2_CBC_PARAMS),
         {VTM_UL(CK_RC2_CBC_PARAMS, ulEffectiveBits),
          {"iv", offsetof(CK_RC2_CBC_PARAMS, iv), K::Inline, sizeof(CK_RC2_CBC_PARAMS::iv)}}},
        {"CK_RC2_MAC_GENERAL_PARAMS", sizeof(CK_RC2_MAC_GENERAL_PARAMS),
         {VTM_UL(CK_RC2_MAC_GENERAL_PARAMS, ulEffectiveBits), VTM_UL(CK_RC2_MAC_GENERAL_PARAMS, ulMacLength)}},
        {"CK_RC5_PARAMS", sizeof(CK_RC5_PARAMS),
         {VTM_UL(CK_RC5_PARAMS, ulWordsize), VTM_UL(CK_RC5_PARAMS, ulRounds)}},
        {"CK_RC5_CBC_PARAMS", sizeof(CK_RC5_CBC_PARAMS),
         {VTM_UL(CK_RC5_CBC_PARAMS, ulWordsize), VTM_UL(CK_RC5_CBC_PARAMS, ulRounds),
          VTM_BYTES(CK_RC5_CBC_PARAMS, pIv, ulIvLen), VTM_UL(CK_RC5_CBC_PARAMS, ulIvLen)}},
        {"CK_RC5_MAC_GENERAL_PARAMS", sizeof(CK_RC5_MAC_GENERAL_PARAMS),
         {VTM_UL(CK_RC5_MAC_GENERAL_PARAMS, ulWordsize), VTM_UL(CK_RC5_MAC_GENERAL_PARAMS, ulRounds),
          VTM_UL(CK_RC5_MAC_GENERAL_PARAMS, ulMacLength)}},
        {"CK_SKIPJACK_PRIVATE_WRAP_PARAMS", sizeof(CK_SKIPJACK_PRIVATE_WRAP_PARAMS),
         {VTM_UL(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPasswordLen),
          VTM_BYTES(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPassword, ulPasswordLen),
          VTM_UL(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPublicDataLen),
          VTM_BYTES(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPublicData, ulPublicDataLen),
          VTM_UL(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulPAndGLen), VTM_UL(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulQLen),
          VTM_UL(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, ulRandomLen),
          VTM_BYTES(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pRandomA, ulRandomLen),
          VTM_BYTES(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pPrimeP, ulPAndGLen),
          VTM_BYTES(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pBaseG, ulPAndGLen),
          VTM_BYTES(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, pSubprimeQ, ulQLen)}},
        {"CK_SKIPJACK_RELAYX_PARAMS", sizeof(CK_SKIPJACK_RELAYX_PARAMS),
         {VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulOldWrappedXLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pOldWrappedX, ulOldWrappedXLen),
          VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulOldPasswordLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pOldPassword, ulOldPasswordLen),
          VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulOldPublicDataLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pOldPublicData, ulOldPublicDataLen),
          VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulOldRandomLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pOldRandomA, ulOldRandomLen),
          VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulNewPasswordLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pNewPassword, ulNewPasswordLen),
          VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulNewPublicDataLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pNewPublicData, ulNewPublicDataLen),
          VTM_UL(CK_SKIPJACK_RELAYX_PARAMS, ulNewRandomLen),
          VTM_BYTES(CK_SKIPJACK_RELAYX_PARAMS, pNewRandomA, ulNewRandomLen)}},
        // pInitVector receives the 8-byte IV of the PBE key generations.
        {"CK_PBE_PARAMS", sizeof(CK_PBE_PARAMS),
         {{"pInitVector", offsetof(CK_PBE_PARAMS, pInitVector), K::Fixed, 8},
          VTM_BYTES(CK_PBE_PARAMS, pPassword, ulPasswordLen), VTM_UL(CK_PBE_PARAMS, ulPasswordLen),
          VTM_BYTES(CK_PBE_PARAMS, pSalt, ulSaltLen), VTM_UL(CK_PBE_PARAMS, ulSaltLen),
          VTM_UL(CK_PBE_PARAMS, ulIteration)}},
        {"CK_PKCS5_PBKD2_PARAMS", sizeof(CK_PKCS5_PBKD2_PARAMS),
         {VTM_UL(CK_PKCS5_PBKD2_PARAMS, saltSource),
          VTM_BYTES(CK_PKCS5_PBKD2_PARAMS, pSaltSourceData, ulSaltSourceDataLen),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS, ulSaltSourceDataLen), VTM_UL(CK_PKCS5_PBKD2_PARAMS, iterations),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS, prf), VTM_BYTES(CK_PKCS5_PBKD2_PARAMS, pPrfData, ulPrfDataLen),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS, ulPrfDataLen),
          {"pPassword", offsetof(CK_PKCS5_PBKD2_PARAMS, pPassword), K::Pointer, 0},
          {"ulPasswordLen", offsetof(CK_PKCS5_PBKD2_PARAMS, ulPasswordLen), K::Pointer, 0}}},
        {"CK_KEY_DERIVATION_STRING_DATA", sizeof(CK_KEY_DERIVATION_STRING_DATA),
         {VTM_BYTES(CK_KEY_DERIVATION_STRING_DATA, pData, ulLen), VTM_UL(CK_KEY_DERIVATION_STRING_DATA, ulLen)}},
        {"CK_KEY_WRAP_SET_OAEP_PARAMS", sizeof(CK_KEY_WRAP_SET_OAEP_PARAMS),
         {VTM_BYTE(CK_KEY_WRAP_SET_OAEP_PARAMS, bBC), VTM_BYTES(CK_KEY_WRAP_SET_OAEP_PARAMS, pX, ulXLen),
          VTM_UL(CK_KEY_WRAP_SET_OAEP_PARAMS, ulXLen)}},
        {"CK_SSL3_MASTER_KEY_DERIVE_PARAMS", sizeof(CK_SSL3_MASTER_KEY_DERIVE_PARAMS),
         {VTM_RANDOM(CK_SSL3_MASTER_KEY_DERIVE_PARAMS),
          {"pVersion", offsetof(CK_SSL3_MASTER_KEY_DERIVE_PARAMS, pVersion), K::Fixed, sizeof(CK_VERSION)}}},
        {"CK_SSL3_KEY_MAT_PARAMS", sizeof(CK_SSL3_KEY_MAT_PARAMS),
         {VTM_UL(CK_SSL3_KEY_MAT_PARAMS, ulMacSizeInBits), VTM_UL(CK_SSL3_KEY_MAT_PARAMS, ulKeySizeInBits),
          VTM_UL(CK_SSL3_KEY_MAT_PARAMS, ulIVSizeInBits), VTM_BYTE(CK_SSL3_KEY_MAT_PARAMS, bIsExport),
          VTM_RANDOM(CK_SSL3_KEY_MAT_PARAMS),
          {"pReturnedKeyMaterial", offsetof(CK_SSL3_KEY_MAT_PARAMS, pReturnedKeyMaterial), K::KeyMat,
           offsetof(CK_SSL3_KEY_MAT_PARAMS, ulIVSizeInBits)}}},
        {"CK_RSA_PKCS_PSS_PARAMS", sizeof(CK_RSA_PKCS_PSS_PARAMS),
         {VTM_UL(CK_RSA_PKCS_PSS_PARAMS, hashAlg), VTM_UL(CK_RSA_PKCS_PSS_PARAMS, mgf),
          VTM_UL(CK_RSA_PKCS_PSS_PARAMS, sLen)}},
        {"CK_ECDH1_DERIVE_PARAMS", sizeof(CK_ECDH1_DERIVE_PARAMS),
         {VTM_UL(CK_ECDH1_DERIVE_PARAMS, kdf), VTM_UL(CK_ECDH1_DERIVE_PARAMS, ulSharedDataLen),
          VTM_BYTES(CK_ECDH1_DERIVE_PARAMS, pSharedData, ulSharedDataLen),
          VTM_UL(CK_ECDH1_DERIVE_PARAMS, ulPublicDataLen),
          VTM_BYTES(CK_ECDH1_DERIVE_PARAMS, pPublicData, ulPublicDataLen)}},
        {"CK_ECDH2_DERIVE_PARAMS", sizeof(CK_ECDH2_DERIVE_PARAMS),
         {VTM_UL(CK_ECDH2_DERIVE_PARAMS, kdf), VTM_UL(CK_ECDH2_DERIVE_PARAMS, ulSharedDataLen),
          VTM_BYTES(CK_ECDH2_DERIVE_PARAMS, pSharedData, ulSharedDataLen),
          VTM_UL(CK_ECDH2_DERIVE_PARAMS, ulPublicDataLen),
          VTM_BYTES(CK_ECDH2_DERIVE_PARAMS, pPublicData, ulPublicDataLen),
          VTM_UL(CK_ECDH2_DERIVE_PARAMS, ulPrivateDataLen), VTM_UL(CK_ECDH2_DERIVE_PARAMS, hPrivateData),
          VTM_UL(CK_ECDH2_DERIVE_PARAMS, ulPublicDataLen2),
          VTM_BYTES(CK_ECDH2_DERIVE_PARAMS, pPublicData2, ulPublicDataLen2)}},
        {"CK_X9_42_DH1_DERIVE_PARAMS", sizeof(CK_X9_42_DH1_DERIVE_PARAMS),
         {VTM_UL(CK_X9_42_DH1_DERIVE_PARAMS, kdf), VTM_UL(CK_X9_42_DH1_DERIVE_PARAMS, ulOtherInfoLen),
          VTM_BYTES(CK_X9_42_DH1_DERIVE_PARAMS, pOtherInfo, ulOtherInfoLen),
          VTM_UL(CK_X9_42_DH1_DERIVE_PARAMS, ulPublicDataLen),
          VTM_BYTES(CK_X9_42_DH1_DERIVE_PARAMS, pPublicData, ulPublicDataLen)}},
        {"CK_X9_42_DH2_DERIVE_PARAMS", sizeof(CK_X9_42_DH2_DERIVE_PARAMS),
         {VTM_UL(CK_X9_42_DH2_DERIVE_PARAMS, kdf), VTM_UL(CK_X9_42_DH2_DERIVE_PARAMS, ulOtherInfoLen),
          VTM_BYTES(CK_X9_42_DH2_DERIVE_PARAMS, pOtherInfo, ulOtherInfoLen),
          VTM_UL(CK_X9_42_DH2_DERIVE_PARAMS, ulPublicDataLen),
          VTM_BYTES(CK_X9_42_DH2_DERIVE_PARAMS, pPublicData, ulPublicDataLen),
          VTM_UL(CK_X9_42_DH2_DERIVE_PARAMS, ulPrivateDataLen), VTM_UL(CK_X9_42_DH2_DERIVE_PARAMS, hPrivateData),
          VTM_UL(CK_X9_42_DH2_DERIVE_PARAMS, ulPublicDataLen2),
          VTM_BYTES(CK_X9_42_DH2_DERIVE_PARAMS, pPublicData2, ulPublicDataLen2)}},
        // The records of the newer mechanisms.
        {"CK_GCM_PARAMS", sizeof(CK_GCM_PARAMS),
         {VTM_BYTES(CK_GCM_PARAMS, pIv, ulIvLen), VTM_UL(CK_GCM_PARAMS, ulIvLen), VTM_UL(CK_GCM_PARAMS, ulIvBits),
          VTM_BYTES(CK_GCM_PARAMS, pAAD, ulAADLen), VTM_UL(CK_GCM_PARAMS, ulAADLen),
          VTM_UL(CK_GCM_PARAMS, ulTagBits)}},
        {"CK_GCM_PARAMS_WITHOUT_IV_BITS", sizeof(CK_GCM_PARAMS_WITHOUT_IV_BITS),
         {VTM_BYTES(CK_GCM_PARAMS_WITHOUT_IV_BITS, pIv, ulIvLen), VTM_UL(CK_GCM_PARAMS_WITHOUT_IV_BITS, ulIvLen),
          VTM_BYTES(CK_GCM_PARAMS_WITHOUT_IV_BITS, pAAD, ulAADLen),
          VTM_UL(CK_GCM_PARAMS_WITHOUT_IV_BITS, ulAADLen), VTM_UL(CK_GCM_PARAMS_WITHOUT_IV_BITS, ulTagBits)}},
        {"CK_CCM_PARAMS", sizeof(CK_CCM_PARAMS),
         {VTM_UL(CK_CCM_PARAMS, ulDataLen), VTM_BYTES(CK_CCM_PARAMS, pNonce, ulNonceLen),
          VTM_UL(CK_CCM_PARAMS, ulNonceLen), VTM_BYTES(CK_CCM_PARAMS, pAAD, ulAADLen),
          VTM_UL(CK_CCM_PARAMS, ulAADLen), VTM_UL(CK_CCM_PARAMS, ulMACLen)}},
        {"CK_AES_CTR_PARAMS", sizeof(CK_AES_CTR_PARAMS),
         {VTM_UL(CK_AES_CTR_PARAMS, ulCounterBits),
          {"cb", offsetof(CK_AES_CTR_PARAMS, cb), K::Inline, sizeof(CK_AES_CTR_PARAMS::cb)}}},
        {"CK_AES_CBC_ENCRYPT_DATA_PARAMS", sizeof(CK_AES_CBC_ENCRYPT_DATA_PARAMS),
         {{"iv", offsetof(CK_AES_CBC_ENCRYPT_DATA_PARAMS, iv), K::Inline, sizeof(CK_AES_CBC_ENCRYPT_DATA_PARAMS::iv)},
          VTM_BYTES(CK_AES_CBC_ENCRYPT_DATA_PARAMS, pData, length), VTM_UL(CK_AES_CBC_ENCRYPT_DATA_PARAMS, length)}},
        {"CK_DES_CBC_ENCRYPT_DATA_PARAMS", sizeof(CK_DES_CBC_ENCRYPT_DATA_PARAMS),
         {{"iv", offsetof(CK_DES_CBC_ENCRYPT_DATA_PARAMS, iv), K::Inline, sizeof(CK_DES_CBC_ENCRYPT_DATA_PARAMS::iv)},
          VTM_BYTES(CK_DES_CBC_ENCRYPT_DATA_PARAMS, pData, length), VTM_UL(CK_DES_CBC_ENCRYPT_DATA_PARAMS, length)}},
        {"CK_CHACHA20_PARAMS", sizeof(CK_CHACHA20_PARAMS),
         {{"pBlockCounter", offsetof(CK_CHACHA20_PARAMS, pBlockCounter), K::BitBytes,
           offsetof(CK_CHACHA20_PARAMS, blockCounterBits)},
          VTM_UL(CK_CHACHA20_PARAMS, blockCounterBits),
          {"pNonce", offsetof(CK_CHACHA20_PARAMS, pNonce), K::BitBytes, offsetof(CK_CHACHA20_PARAMS, ulNonceBits)},
          VTM_UL(CK_CHACHA20_PARAMS, ulNonceBits)}},
        {"CK_SALSA20_CHACHA20_POLY1305_PARAMS", sizeof(CK_SALSA20_CHACHA20_POLY1305_PARAMS),
         {VTM_BYTES(CK_SALSA20_CHACHA20_POLY1305_PARAMS, pNonce, ulNonceLen),
          VTM_UL(CK_SALSA20_CHACHA20_POLY1305_PARAMS, ulNonceLen),
          VTM_BYTES(CK_SALSA20_CHACHA20_POLY1305_PARAMS, pAAD, ulAADLen),
          VTM_UL(CK_SALSA20_CHACHA20_POLY1305_PARAMS, ulAADLen)}},
        {"CK_EDDSA_PARAMS", sizeof(CK_EDDSA_PARAMS),
         {VTM_BYTE(CK_EDDSA_PARAMS, phFlag), VTM_UL(CK_EDDSA_PARAMS, ulContextDataLen),
          VTM_BYTES(CK_EDDSA_PARAMS, pContextData, ulContextDataLen)}},
        {"CK_ECDH_AES_KEY_WRAP_PARAMS", sizeof(CK_ECDH_AES_KEY_WRAP_PARAMS),
         {VTM_UL(CK_ECDH_AES_KEY_WRAP_PARAMS, ulAESKeyBits), VTM_UL(CK_ECDH_AES_KEY_WRAP_PARAMS, kdf),
          VTM_UL(CK_ECDH_AES_KEY_WRAP_PARAMS, ulSharedDataLen),
          VTM_BYTES(CK_ECDH_AES_KEY_WRAP_PARAMS, pSharedData, ulSharedDataLen)}},
        {"CK_RSA_AES_KEY_WRAP_PARAMS", sizeof(CK_RSA_AES_KEY_WRAP_PARAMS),
         {VTM_UL(CK_RSA_AES_KEY_WRAP_PARAMS, ulAESKeyBits),
          {"pOAEPParams", offsetof(CK_RSA_AES_KEY_WRAP_PARAMS, pOAEPParams), K::Record, 0,
           "CK_RSA_PKCS_OAEP_PARAMS"}}},
        {"CK_PKCS5_PBKD2_PARAMS2", sizeof(CK_PKCS5_PBKD2_PARAMS2),
         {VTM_UL(CK_PKCS5_PBKD2_PARAMS2, saltSource),
          VTM_BYTES(CK_PKCS5_PBKD2_PARAMS2, pSaltSourceData, ulSaltSourceDataLen),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS2, ulSaltSourceDataLen), VTM_UL(CK_PKCS5_PBKD2_PARAMS2, iterations),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS2, prf), VTM_BYTES(CK_PKCS5_PBKD2_PARAMS2, pPrfData, ulPrfDataLen),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS2, ulPrfDataLen), VTM_BYTES(CK_PKCS5_PBKD2_PARAMS2, pPassword, ulPasswordLen),
          VTM_UL(CK_PKCS5_PBKD2_PARAMS2, ulPasswordLen)}},
        // SP 800-108 and its parts.
        {"CK_PRF_DATA_PARAM", sizeof(CK_PRF_DATA_PARAM),
         {VTM_UL(CK_PRF_DATA_PARAM, type),
          {"pValue", offsetof(CK_PRF_DATA_PARAM, pValue), K::Value, offsetof(CK_PRF_DATA_PARAM, ulValueLen)},
          VTM_UL(CK_PRF_DATA_PARAM, ulValueLen)}},
        {"CK_DERIVED_KEY", sizeof(CK_DERIVED_KEY),
         {{"pTemplate", offsetof(CK_DERIVED_KEY, pTemplate), K::Template, offsetof(CK_DERIVED_KEY, ulAttributeCount)},
          VTM_UL(CK_DERIVED_KEY, ulAttributeCount), {"phKey", offsetof(CK_DERIVED_KEY, phKey), K::Handle, 0}}},
        {"CK_SP800_108_KDF_PARAMS", sizeof(CK_SP800_108_KDF_PARAMS),
         {VTM_UL(CK_SP800_108_KDF_PARAMS, prfType), VTM_UL(CK_SP800_108_KDF_PARAMS, ulNumberOfDataParams),
          {"pDataParams", offsetof(CK_SP800_108_KDF_PARAMS, pDataParams), K::Records,
           offsetof(CK_SP800_108_KDF_PARAMS, ulNumberOfDataParams), "CK_PRF_DATA_PARAM"},
          VTM_UL(CK_SP800_108_KDF_PARAMS, ulAdditionalDerivedKeys),
          {"pAdditionalDerivedKeys", offsetof(CK_SP800_108_KDF_PARAMS, pAdditionalDerivedKeys), K::Records,
           offsetof(CK_SP800_108_KDF_PARAMS, ulAdditionalDerivedKeys), "CK_DERIVED_KEY"}}},
        {"CK_SP800_108_FEEDBACK_KDF_PARAMS", sizeof(CK_SP800_108_FEEDBACK_KDF_PARAMS),
         {VTM_UL(CK_SP800_108_FEEDBACK_KDF_PARAMS, prfType),
          VTM_UL(CK_SP800_108_FEEDBACK_KDF_PARAMS, ulNumberOfDataParams),
          {"pDataParams", offsetof(CK_SP800_108_FEEDBACK_KDF_PARAMS, pDataParams), K::Records,
           offsetof(CK_SP800_108_FEEDBACK_KDF_PARAMS, ulNumberOfDataParams), "CK_PRF_DATA_PARAM"},
          VTM_UL(CK_SP800_108_FEEDBACK_KDF_PARAMS, ulIVLen), VTM_BYTES(CK_SP800_108_FEEDBACK_KDF_PARAMS, pIV, ulIVLen),
          VTM_UL(CK_SP800_108_FEEDBACK_KDF_PARAMS, ulAdditionalDerivedKeys),
          {"pAdditionalDerivedKeys", offsetof(CK_SP800_108_FEEDBACK_KDF_PARAMS, pAdditionalDerivedKeys), K::Records,
           offsetof(CK_SP800_108_FEEDBACK_KDF_PARAMS, ulAdditionalDerivedKeys), "CK_DERIVED_KEY"}}},
        // The per-message parameters of the message-based functions, and HKDF.
        {"CK_GCM_MESSAGE_PARAMS", sizeof(CK_GCM_MESSAGE_PARAMS),
         {VTM_BYTES(CK_GCM_MESSAGE_PARAMS, pIv, ulIvLen), VTM_UL(CK_GCM_MESSAGE_PARAMS, ulIvLen),
          VTM_UL(CK_GCM_MESSAGE_PARAMS, ulIvFixedBits), VTM_UL(CK_GCM_MESSAGE_PARAMS, ivGenerator),
          {"pTag", offsetof(CK_GCM_MESSAGE_PARAMS, pTag), K::BitBytes, offsetof(CK_GCM_MESSAGE_PARAMS, ulTagBits)},
          VTM_UL(CK_GCM_MESSAGE_PARAMS, ulTagBits)}},
        {"CK_CCM_MESSAGE_PARAMS", sizeof(CK_CCM_MESSAGE_PARAMS),
         {VTM_UL(CK_CCM_MESSAGE_PARAMS, ulDataLen), VTM_BYTES(CK_CCM_MESSAGE_PARAMS, pNonce, ulNonceLen),
          VTM_UL(CK_CCM_MESSAGE_PARAMS, ulNonceLen), VTM_UL(CK_CCM_MESSAGE_PARAMS, ulNonceFixedBits),
          VTM_UL(CK_CCM_MESSAGE_PARAMS, nonceGenerator), VTM_BYTES(CK_CCM_MESSAGE_PARAMS, pMAC, ulMACLen),
          VTM_UL(CK_CCM_MESSAGE_PARAMS, ulMACLen)}},
        {"CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS", sizeof(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS),
         {VTM_BYTES(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, pNonce, ulNonceLen),
          VTM_UL(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, ulNonceLen),
          {"pTag", offsetof(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, pTag), K::Fixed, 16}}},
        {"CK_HKDF_PARAMS", sizeof(CK_HKDF_PARAMS),
         {VTM_BYTE(CK_HKDF_PARAMS, bExtract), VTM_BYTE(CK_HKDF_PARAMS, bExpand),
          VTM_UL(CK_HKDF_PARAMS, prfHashMechanism), VTM_UL(CK_HKDF_PARAMS, ulSaltType),
          VTM_BYTES(CK_HKDF_PARAMS, pSalt, ulSaltLen), VTM_UL(CK_HKDF_PARAMS, ulSaltLen),
          VTM_UL(CK_HKDF_PARAMS, hSaltKey), VTM_BYTES(CK_HKDF_PARAMS, pInfo, ulInfoLen),
          VTM_UL(CK_HKDF_PARAMS, ulInfoLen)}},
    };
    return table;
}

#undef VTM_UL
#undef VTM_BYTE
#undef VTM_BYTES
#undef VTM_RANDOM

const ParamStruct* findStruct(const std::string& name) {
    for (const ParamStruct& s : structs())
        if (name == s.name) return &s;
    return nullptr;
}

template <typename T>
T read(const std::uint8_t* block, std::size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

/// The handles and IVs that a CK_SSL3_KEY_MAT_OUT holds before the module writes into it.
void decodeKeyMat(Call& c, const std::string& key, const CK_SSL3_KEY_MAT_OUT* out, CK_ULONG ivBytes) {
    if (out == nullptr) {
        c.raw(key.c_str(), "null");
        return;
    }
    c.raw(key.c_str(), "ptr");
    c.scalar((key + ".hClientMacSecret").c_str(), out->hClientMacSecret);
    c.scalar((key + ".hServerMacSecret").c_str(), out->hServerMacSecret);
    c.scalar((key + ".hClientKey").c_str(), out->hClientKey);
    c.scalar((key + ".hServerKey").c_str(), out->hServerKey);
    c.bytes((key + ".pIVClient").c_str(), out->pIVClient, ivBytes);
    c.bytes((key + ".pIVServer").c_str(), out->pIVServer, ivBytes);
}

void decodeFields(Call& c, const std::string& prefix, const ParamStruct& s, const std::uint8_t* block) {
    for (const ParamField& f : s.fields) {
        const std::string key = prefix + f.name;
        switch (f.kind) {
            case K::Ulong: c.scalar(key.c_str(), read<CK_ULONG>(block, f.offset)); break;
            case K::Byte: c.scalar(key.c_str(), block[f.offset]); break;
            case K::Bytes:
                c.bytes(key.c_str(), read<const void*>(block, f.offset), read<CK_ULONG>(block, f.extra));
                break;
            case K::Fixed:
                c.bytes(key.c_str(), read<const void*>(block, f.offset), static_cast<CK_ULONG>(f.extra));
                break;
            case K::Inline: c.bytes(key.c_str(), block + f.offset, static_cast<CK_ULONG>(f.extra)); break;
            case K::Pointer: c.pointer(key.c_str(), read<const void*>(block, f.offset)); break;
            case K::KeyMat:
                decodeKeyMat(c, key, read<const CK_SSL3_KEY_MAT_OUT*>(block, f.offset),
                             read<CK_ULONG>(block, f.extra) / 8);
                break;
            case K::BitBytes:
                c.bytes(key.c_str(), read<const void*>(block, f.offset), read<CK_ULONG>(block, f.extra) / 8);
                break;
            case K::Value:
                c.bytes(key.c_str(), read<const void*>(block, f.offset), read<CK_ULONG>(block, f.extra));
                break;
            case K::Template:
                c.tmpl(key.c_str(), read<const CK_ATTRIBUTE*>(block, f.offset), read<CK_ULONG>(block, f.extra));
                break;
            case K::Handle: {
                const auto* handle = read<const CK_ULONG*>(block, f.offset);
                if (handle == nullptr) c.raw(key.c_str(), "null");
                else c.scalar(key.c_str(), *handle);
                break;
            }
            case K::Records: {
                const auto* first = read<const std::uint8_t*>(block, f.offset);
                c.pointer(key.c_str(), first);
                const ParamStruct& element = *findStruct(f.record);
                const CK_ULONG count = first == nullptr ? 0 : read<CK_ULONG>(block, f.extra);
                for (CK_ULONG i = 0; i < count && i < 64; ++i)
                    decodeFields(c, key + "[" + std::to_string(i) + "].", element, first + i * element.size);
                break;
            }
            case K::Record: {
                const auto* nested = read<const std::uint8_t*>(block, f.offset);
                c.pointer(key.c_str(), nested);
                if (nested != nullptr) decodeFields(c, key + ".", *findStruct(f.record), nested);
                break;
            }
        }
    }
}

}  // namespace

bool knownParameterStruct(const std::string& name) { return findStruct(name) != nullptr; }

bool writeParameterField(const std::string& name, void* block, CK_ULONG length, const std::string& field,
                         const Bytes& bytes) {
    const ParamStruct* s = findStruct(name);
    if (s == nullptr || block == nullptr || length != s->size) return false;
    const auto* base = static_cast<const std::uint8_t*>(block);
    for (const ParamField& f : s->fields) {
        if (field != f.name) continue;
        std::size_t room = 0;
        switch (f.kind) {
            case K::Bytes: room = read<CK_ULONG>(base, f.extra); break;
            case K::Fixed: room = f.extra; break;
            case K::BitBytes: room = (read<CK_ULONG>(base, f.extra) + 7) / 8; break;
            default: return false;
        }
        auto* target = read<std::uint8_t*>(base, f.offset);
        if (target != nullptr) std::memcpy(target, bytes.data(), std::min(room, bytes.size()));
        return true;
    }
    return false;
}

void decodeParameter(Call& c, const std::string& name, const CK_MECHANISM& m) {
    const ParamStruct* s = findStruct(name);
    if (s == nullptr || m.pParameter == nullptr || m.ulParameterLen != s->size) {
        c.raw("param", "mismatch");
        return;
    }
    c.raw("param", s->name);
    decodeFields(c, "param.", *s, static_cast<const std::uint8_t*>(m.pParameter));
}

}  // namespace vtm
