// PKCS#11 (Cryptoki) v2.40 types and structures, and the parameter records
// of version 3.0, as this library and its test module see them.
//
// Platform convention, the same as that of the module headers a PKCS#11
// module is built with:
//   - CK_ULONG is `unsigned long` everywhere: 32 bits on Windows and on
//     32-bit Linux, 64 bits on LP64 Linux. Handles, flags, lengths and
//     return values are all CK_ULONG. Never assume a width: use sizeof.
//   - On Windows every structure is packed to 1-byte alignment; elsewhere
//     structures have their natural alignment.
//   - Module entries and callbacks use the C calling convention (cdecl on
//     Windows), spelled PKCS11_CALL below.
//
// The names are the standard ones and live in the global namespace, so the
// code reads like the PKCS#11 documentation. Constants are in
// pkcs11_constants.h, the function list in pkcs11_functions.h; include
// pkcs11.h to get all three.

#ifndef PKCS11_PKCS11_TYPES_H
#define PKCS11_PKCS11_TYPES_H

// Calling convention of module entries and of the callbacks the library
// hands to a module.
#if defined(_WIN32)
#define PKCS11_CALL __cdecl
#else
#define PKCS11_CALL
#endif

// ---------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------

typedef unsigned char CK_BYTE;      // unsigned 8-bit value
typedef CK_BYTE CK_CHAR;            // unsigned 8-bit character
typedef CK_BYTE CK_UTF8CHAR;        // one byte of UTF-8 text
typedef CK_BYTE CK_BBOOL;           // CK_TRUE or CK_FALSE in one byte
typedef unsigned long CK_ULONG;     // at least 32 bits
typedef long CK_LONG;               // signed, same size as CK_ULONG
typedef CK_ULONG CK_FLAGS;          // bit set of CKF_ values

typedef CK_BYTE* CK_BYTE_PTR;
typedef CK_CHAR* CK_CHAR_PTR;
typedef CK_UTF8CHAR* CK_UTF8CHAR_PTR;
typedef CK_ULONG* CK_ULONG_PTR;
typedef void* CK_VOID_PTR;
typedef CK_VOID_PTR* CK_VOID_PTR_PTR;

typedef CK_ULONG CK_NOTIFICATION;
typedef CK_ULONG CK_SLOT_ID;
typedef CK_SLOT_ID* CK_SLOT_ID_PTR;
typedef CK_ULONG CK_SESSION_HANDLE;
typedef CK_SESSION_HANDLE* CK_SESSION_HANDLE_PTR;
typedef CK_ULONG CK_USER_TYPE;
typedef CK_ULONG CK_STATE;
typedef CK_ULONG CK_OBJECT_HANDLE;
typedef CK_OBJECT_HANDLE* CK_OBJECT_HANDLE_PTR;
typedef CK_ULONG CK_OBJECT_CLASS;
typedef CK_OBJECT_CLASS* CK_OBJECT_CLASS_PTR;
typedef CK_ULONG CK_HW_FEATURE_TYPE;
typedef CK_ULONG CK_KEY_TYPE;
typedef CK_ULONG CK_CERTIFICATE_TYPE;
typedef CK_ULONG CK_CERTIFICATE_CATEGORY;
typedef CK_ULONG CK_JAVA_MIDP_SECURITY_DOMAIN;
typedef CK_ULONG CK_ATTRIBUTE_TYPE;
typedef CK_ULONG CK_MECHANISM_TYPE;
typedef CK_MECHANISM_TYPE* CK_MECHANISM_TYPE_PTR;
typedef CK_ULONG CK_RV;

typedef CK_ULONG CK_RSA_PKCS_MGF_TYPE;
typedef CK_RSA_PKCS_MGF_TYPE* CK_RSA_PKCS_MGF_TYPE_PTR;
typedef CK_ULONG CK_RSA_PKCS_OAEP_SOURCE_TYPE;
typedef CK_RSA_PKCS_OAEP_SOURCE_TYPE* CK_RSA_PKCS_OAEP_SOURCE_TYPE_PTR;
typedef CK_ULONG CK_EC_KDF_TYPE;
typedef CK_ULONG CK_X9_42_DH_KDF_TYPE;
typedef CK_X9_42_DH_KDF_TYPE* CK_X9_42_DH_KDF_TYPE_PTR;
typedef CK_ULONG CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE;
typedef CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE* CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE_PTR;
typedef CK_ULONG CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE;
typedef CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE* CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE_PTR;

// Types of version 3.0.
typedef CK_ULONG CK_PROFILE_ID;               // CKP_ value of a CKO_PROFILE object
typedef CK_ULONG CK_GENERATOR_FUNCTION;       // CKG_ value: how a message IV or nonce is made
typedef CK_MECHANISM_TYPE CK_SP800_108_PRF_TYPE;
typedef CK_ULONG CK_PRF_DATA_TYPE;            // CK_SP800_108_ value of a CK_PRF_DATA_PARAM
typedef CK_ULONG CK_SP800_108_DKM_LENGTH_METHOD;

// Parameters that are a single CK_ULONG.
typedef CK_ULONG CK_RC2_PARAMS;
typedef CK_RC2_PARAMS* CK_RC2_PARAMS_PTR;
typedef CK_ULONG CK_MAC_GENERAL_PARAMS;
typedef CK_MAC_GENERAL_PARAMS* CK_MAC_GENERAL_PARAMS_PTR;
typedef CK_ULONG CK_EXTRACT_PARAMS;
typedef CK_EXTRACT_PARAMS* CK_EXTRACT_PARAMS_PTR;

// Types of the entries of a CK_OTP_PARAMS list.
typedef CK_ULONG CK_PARAM_TYPE;
typedef CK_PARAM_TYPE CK_OTP_PARAM_TYPE;

// The null pointer of the PKCS#11 interfaces. A typed constant rather than a
// macro; it compares and converts like nullptr.
inline constexpr decltype(nullptr) NULL_PTR = nullptr;

inline constexpr CK_BBOOL CK_TRUE = 1;
inline constexpr CK_BBOOL CK_FALSE = 0;

// ---------------------------------------------------------------------------
// Callback types (C calling convention)
// ---------------------------------------------------------------------------

extern "C" {

// Notification of a session event (CKN_ value) to the application.
typedef CK_RV (PKCS11_CALL* CK_NOTIFY)(CK_SESSION_HANDLE hSession, CK_NOTIFICATION event,
                                       CK_VOID_PTR pApplication);

// Mutex callbacks an application may hand to C_Initialize.
typedef CK_RV (PKCS11_CALL* CK_CREATEMUTEX)(CK_VOID_PTR_PTR ppMutex);
typedef CK_RV (PKCS11_CALL* CK_DESTROYMUTEX)(CK_VOID_PTR pMutex);
typedef CK_RV (PKCS11_CALL* CK_LOCKMUTEX)(CK_VOID_PTR pMutex);
typedef CK_RV (PKCS11_CALL* CK_UNLOCKMUTEX)(CK_VOID_PTR pMutex);

}  // extern "C"

// ---------------------------------------------------------------------------
// Structures
// ---------------------------------------------------------------------------

#if defined(_WIN32)
#pragma pack(push, 1)
#endif

// Version number: major, and minor in hundredths (2.40 is {2, 40}).
struct CK_VERSION {
    CK_BYTE major;
    CK_BYTE minor;
};
typedef CK_VERSION* CK_VERSION_PTR;

// Result of C_GetInfo. Text fields are blank-padded, not NUL-terminated.
struct CK_INFO {
    CK_VERSION cryptokiVersion;
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_UTF8CHAR libraryDescription[32];
    CK_VERSION libraryVersion;
};
typedef CK_INFO* CK_INFO_PTR;

// Result of C_GetSlotInfo.
struct CK_SLOT_INFO {
    CK_UTF8CHAR slotDescription[64];
    CK_UTF8CHAR manufacturerID[32];
    CK_FLAGS flags;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
};
typedef CK_SLOT_INFO* CK_SLOT_INFO_PTR;

// Result of C_GetTokenInfo.
struct CK_TOKEN_INFO {
    CK_UTF8CHAR label[32];
    CK_UTF8CHAR manufacturerID[32];
    CK_UTF8CHAR model[16];
    CK_CHAR serialNumber[16];
    CK_FLAGS flags;
    CK_ULONG ulMaxSessionCount;
    CK_ULONG ulSessionCount;
    CK_ULONG ulMaxRwSessionCount;
    CK_ULONG ulRwSessionCount;
    CK_ULONG ulMaxPinLen;
    CK_ULONG ulMinPinLen;
    CK_ULONG ulTotalPublicMemory;
    CK_ULONG ulFreePublicMemory;
    CK_ULONG ulTotalPrivateMemory;
    CK_ULONG ulFreePrivateMemory;
    CK_VERSION hardwareVersion;
    CK_VERSION firmwareVersion;
    CK_CHAR utcTime[16];
};
typedef CK_TOKEN_INFO* CK_TOKEN_INFO_PTR;

// Result of C_GetSessionInfo.
struct CK_SESSION_INFO {
    CK_SLOT_ID slotID;
    CK_STATE state;
    CK_FLAGS flags;
    CK_ULONG ulDeviceError;
};
typedef CK_SESSION_INFO* CK_SESSION_INFO_PTR;

// One attribute of an object or template.
struct CK_ATTRIBUTE {
    CK_ATTRIBUTE_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;  // in bytes
};
typedef CK_ATTRIBUTE* CK_ATTRIBUTE_PTR;

// A date as ASCII digits: "YYYY", "MM", "DD".
struct CK_DATE {
    CK_CHAR year[4];
    CK_CHAR month[2];
    CK_CHAR day[2];
};
typedef CK_DATE* CK_DATE_PTR;

// A mechanism and its parameter block.
struct CK_MECHANISM {
    CK_MECHANISM_TYPE mechanism;
    CK_VOID_PTR pParameter;
    CK_ULONG ulParameterLen;  // in bytes
};
typedef CK_MECHANISM* CK_MECHANISM_PTR;

// Result of C_GetMechanismInfo.
struct CK_MECHANISM_INFO {
    CK_ULONG ulMinKeySize;
    CK_ULONG ulMaxKeySize;
    CK_FLAGS flags;
};
typedef CK_MECHANISM_INFO* CK_MECHANISM_INFO_PTR;

// Argument of C_Initialize.
struct CK_C_INITIALIZE_ARGS {
    CK_CREATEMUTEX CreateMutex;
    CK_DESTROYMUTEX DestroyMutex;
    CK_LOCKMUTEX LockMutex;
    CK_UNLOCKMUTEX UnlockMutex;
    CK_FLAGS flags;
    CK_VOID_PTR pReserved;
};
typedef CK_C_INITIALIZE_ARGS* CK_C_INITIALIZE_ARGS_PTR;

// --- Mechanism parameters ---------------------------------------------------

struct CK_RSA_PKCS_OAEP_PARAMS {
    CK_MECHANISM_TYPE hashAlg;
    CK_RSA_PKCS_MGF_TYPE mgf;
    CK_RSA_PKCS_OAEP_SOURCE_TYPE source;
    CK_VOID_PTR pSourceData;
    CK_ULONG ulSourceDataLen;
};
typedef CK_RSA_PKCS_OAEP_PARAMS* CK_RSA_PKCS_OAEP_PARAMS_PTR;

struct CK_RSA_PKCS_PSS_PARAMS {
    CK_MECHANISM_TYPE hashAlg;
    CK_RSA_PKCS_MGF_TYPE mgf;
    CK_ULONG sLen;
};
typedef CK_RSA_PKCS_PSS_PARAMS* CK_RSA_PKCS_PSS_PARAMS_PTR;

struct CK_ECDH1_DERIVE_PARAMS {
    CK_EC_KDF_TYPE kdf;
    CK_ULONG ulSharedDataLen;
    CK_BYTE_PTR pSharedData;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
};
typedef CK_ECDH1_DERIVE_PARAMS* CK_ECDH1_DERIVE_PARAMS_PTR;

struct CK_ECDH2_DERIVE_PARAMS {
    CK_EC_KDF_TYPE kdf;
    CK_ULONG ulSharedDataLen;
    CK_BYTE_PTR pSharedData;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPrivateDataLen;
    CK_OBJECT_HANDLE hPrivateData;
    CK_ULONG ulPublicDataLen2;
    CK_BYTE_PTR pPublicData2;
};
typedef CK_ECDH2_DERIVE_PARAMS* CK_ECDH2_DERIVE_PARAMS_PTR;

struct CK_ECMQV_DERIVE_PARAMS {
    CK_EC_KDF_TYPE kdf;
    CK_ULONG ulSharedDataLen;
    CK_BYTE_PTR pSharedData;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPrivateDataLen;
    CK_OBJECT_HANDLE hPrivateData;
    CK_ULONG ulPublicDataLen2;
    CK_BYTE_PTR pPublicData2;
    CK_OBJECT_HANDLE publicKey;
};
typedef CK_ECMQV_DERIVE_PARAMS* CK_ECMQV_DERIVE_PARAMS_PTR;

struct CK_X9_42_DH1_DERIVE_PARAMS {
    CK_X9_42_DH_KDF_TYPE kdf;
    CK_ULONG ulOtherInfoLen;
    CK_BYTE_PTR pOtherInfo;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
};
typedef CK_X9_42_DH1_DERIVE_PARAMS* CK_X9_42_DH1_DERIVE_PARAMS_PTR;

struct CK_X9_42_DH2_DERIVE_PARAMS {
    CK_X9_42_DH_KDF_TYPE kdf;
    CK_ULONG ulOtherInfoLen;
    CK_BYTE_PTR pOtherInfo;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPrivateDataLen;
    CK_OBJECT_HANDLE hPrivateData;
    CK_ULONG ulPublicDataLen2;
    CK_BYTE_PTR pPublicData2;
};
typedef CK_X9_42_DH2_DERIVE_PARAMS* CK_X9_42_DH2_DERIVE_PARAMS_PTR;

struct CK_X9_42_MQV_DERIVE_PARAMS {
    CK_X9_42_DH_KDF_TYPE kdf;
    CK_ULONG ulOtherInfoLen;
    CK_BYTE_PTR pOtherInfo;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPrivateDataLen;
    CK_OBJECT_HANDLE hPrivateData;
    CK_ULONG ulPublicDataLen2;
    CK_BYTE_PTR pPublicData2;
    CK_OBJECT_HANDLE publicKey;
};
typedef CK_X9_42_MQV_DERIVE_PARAMS* CK_X9_42_MQV_DERIVE_PARAMS_PTR;

// One length (ulRandomLen) serves both random values.
struct CK_KEA_DERIVE_PARAMS {
    CK_BBOOL isSender;
    CK_ULONG ulRandomLen;
    CK_BYTE_PTR pRandomA;
    CK_BYTE_PTR pRandomB;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
};
typedef CK_KEA_DERIVE_PARAMS* CK_KEA_DERIVE_PARAMS_PTR;

// The IV is held in the record itself, not behind a pointer.
struct CK_RC2_CBC_PARAMS {
    CK_ULONG ulEffectiveBits;
    CK_BYTE iv[8];
};
typedef CK_RC2_CBC_PARAMS* CK_RC2_CBC_PARAMS_PTR;

struct CK_RC2_MAC_GENERAL_PARAMS {
    CK_ULONG ulEffectiveBits;
    CK_ULONG ulMacLength;
};
typedef CK_RC2_MAC_GENERAL_PARAMS* CK_RC2_MAC_GENERAL_PARAMS_PTR;

struct CK_RC5_PARAMS {
    CK_ULONG ulWordsize;  // in bytes
    CK_ULONG ulRounds;
};
typedef CK_RC5_PARAMS* CK_RC5_PARAMS_PTR;

struct CK_RC5_CBC_PARAMS {
    CK_ULONG ulWordsize;
    CK_ULONG ulRounds;
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
};
typedef CK_RC5_CBC_PARAMS* CK_RC5_CBC_PARAMS_PTR;

struct CK_RC5_MAC_GENERAL_PARAMS {
    CK_ULONG ulWordsize;
    CK_ULONG ulRounds;
    CK_ULONG ulMacLength;
};
typedef CK_RC5_MAC_GENERAL_PARAMS* CK_RC5_MAC_GENERAL_PARAMS_PTR;

struct CK_DES_CBC_ENCRYPT_DATA_PARAMS {
    CK_BYTE iv[8];
    CK_BYTE_PTR pData;
    CK_ULONG length;
};
typedef CK_DES_CBC_ENCRYPT_DATA_PARAMS* CK_DES_CBC_ENCRYPT_DATA_PARAMS_PTR;

struct CK_AES_CBC_ENCRYPT_DATA_PARAMS {
    CK_BYTE iv[16];
    CK_BYTE_PTR pData;
    CK_ULONG length;
};
typedef CK_AES_CBC_ENCRYPT_DATA_PARAMS* CK_AES_CBC_ENCRYPT_DATA_PARAMS_PTR;

// One length (ulPAndGLen) serves both pPrimeP and pBaseG.
struct CK_SKIPJACK_PRIVATE_WRAP_PARAMS {
    CK_ULONG ulPasswordLen;
    CK_BYTE_PTR pPassword;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPAndGLen;
    CK_ULONG ulQLen;
    CK_ULONG ulRandomLen;
    CK_BYTE_PTR pRandomA;
    CK_BYTE_PTR pPrimeP;
    CK_BYTE_PTR pBaseG;
    CK_BYTE_PTR pSubprimeQ;
};
typedef CK_SKIPJACK_PRIVATE_WRAP_PARAMS* CK_SKIPJACK_PRIVATE_WRAP_PARAMS_PTR;

struct CK_SKIPJACK_RELAYX_PARAMS {
    CK_ULONG ulOldWrappedXLen;
    CK_BYTE_PTR pOldWrappedX;
    CK_ULONG ulOldPasswordLen;
    CK_BYTE_PTR pOldPassword;
    CK_ULONG ulOldPublicDataLen;
    CK_BYTE_PTR pOldPublicData;
    CK_ULONG ulOldRandomLen;
    CK_BYTE_PTR pOldRandomA;
    CK_ULONG ulNewPasswordLen;
    CK_BYTE_PTR pNewPassword;
    CK_ULONG ulNewPublicDataLen;
    CK_BYTE_PTR pNewPublicData;
    CK_ULONG ulNewRandomLen;
    CK_BYTE_PTR pNewRandomA;
};
typedef CK_SKIPJACK_RELAYX_PARAMS* CK_SKIPJACK_RELAYX_PARAMS_PTR;

// pInitVector has no length field; for the PBE key generation mechanisms
// the module writes an 8-byte IV into it.
struct CK_PBE_PARAMS {
    CK_BYTE_PTR pInitVector;
    CK_UTF8CHAR_PTR pPassword;
    CK_ULONG ulPasswordLen;
    CK_BYTE_PTR pSalt;
    CK_ULONG ulSaltLen;
    CK_ULONG ulIteration;
};
typedef CK_PBE_PARAMS* CK_PBE_PARAMS_PTR;

// The long-standing layout in which the password length is passed by
// pointer (ulPasswordLen is a CK_ULONG_PTR despite its name).
struct CK_PKCS5_PBKD2_PARAMS {
    CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE saltSource;
    CK_VOID_PTR pSaltSourceData;
    CK_ULONG ulSaltSourceDataLen;
    CK_ULONG iterations;
    CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE prf;
    CK_VOID_PTR pPrfData;
    CK_ULONG ulPrfDataLen;
    CK_UTF8CHAR_PTR pPassword;
    CK_ULONG_PTR ulPasswordLen;
};
typedef CK_PKCS5_PBKD2_PARAMS* CK_PKCS5_PBKD2_PARAMS_PTR;

struct CK_KEY_DERIVATION_STRING_DATA {
    CK_BYTE_PTR pData;
    CK_ULONG ulLen;
};
typedef CK_KEY_DERIVATION_STRING_DATA* CK_KEY_DERIVATION_STRING_DATA_PTR;

struct CK_KEY_WRAP_SET_OAEP_PARAMS {
    CK_BYTE bBC;  // block contents byte
    CK_BYTE_PTR pX;
    CK_ULONG ulXLen;
};
typedef CK_KEY_WRAP_SET_OAEP_PARAMS* CK_KEY_WRAP_SET_OAEP_PARAMS_PTR;

struct CK_SSL3_RANDOM_DATA {
    CK_BYTE_PTR pClientRandom;
    CK_ULONG ulClientRandomLen;
    CK_BYTE_PTR pServerRandom;
    CK_ULONG ulServerRandomLen;
};
typedef CK_SSL3_RANDOM_DATA* CK_SSL3_RANDOM_DATA_PTR;

// The module writes the negotiated protocol version into *pVersion.
struct CK_SSL3_MASTER_KEY_DERIVE_PARAMS {
    CK_SSL3_RANDOM_DATA RandomInfo;
    CK_VERSION_PTR pVersion;
};
typedef CK_SSL3_MASTER_KEY_DERIVE_PARAMS* CK_SSL3_MASTER_KEY_DERIVE_PARAMS_PTR;

// Filled in by the module: four key handles and, where IVs are produced,
// the bytes behind pIVClient and pIVServer.
struct CK_SSL3_KEY_MAT_OUT {
    CK_OBJECT_HANDLE hClientMacSecret;
    CK_OBJECT_HANDLE hServerMacSecret;
    CK_OBJECT_HANDLE hClientKey;
    CK_OBJECT_HANDLE hServerKey;
    CK_BYTE_PTR pIVClient;
    CK_BYTE_PTR pIVServer;
};
typedef CK_SSL3_KEY_MAT_OUT* CK_SSL3_KEY_MAT_OUT_PTR;

struct CK_SSL3_KEY_MAT_PARAMS {
    CK_ULONG ulMacSizeInBits;
    CK_ULONG ulKeySizeInBits;
    CK_ULONG ulIVSizeInBits;
    CK_BBOOL bIsExport;
    CK_SSL3_RANDOM_DATA RandomInfo;
    CK_SSL3_KEY_MAT_OUT_PTR pReturnedKeyMaterial;
};
typedef CK_SSL3_KEY_MAT_PARAMS* CK_SSL3_KEY_MAT_PARAMS_PTR;

struct CK_TLS_PRF_PARAMS {
    CK_BYTE_PTR pSeed;
    CK_ULONG ulSeedLen;
    CK_BYTE_PTR pLabel;
    CK_ULONG ulLabelLen;
    CK_BYTE_PTR pOutput;
    CK_ULONG_PTR pulOutputLen;
};
typedef CK_TLS_PRF_PARAMS* CK_TLS_PRF_PARAMS_PTR;

struct CK_TLS12_MASTER_KEY_DERIVE_PARAMS {
    CK_SSL3_RANDOM_DATA RandomInfo;
    CK_VERSION_PTR pVersion;
    CK_MECHANISM_TYPE prfHashMechanism;
};
typedef CK_TLS12_MASTER_KEY_DERIVE_PARAMS* CK_TLS12_MASTER_KEY_DERIVE_PARAMS_PTR;

struct CK_TLS12_KEY_MAT_PARAMS {
    CK_ULONG ulMacSizeInBits;
    CK_ULONG ulKeySizeInBits;
    CK_ULONG ulIVSizeInBits;
    CK_BBOOL bIsExport;
    CK_SSL3_RANDOM_DATA RandomInfo;
    CK_SSL3_KEY_MAT_OUT_PTR pReturnedKeyMaterial;
    CK_MECHANISM_TYPE prfHashMechanism;
};
typedef CK_TLS12_KEY_MAT_PARAMS* CK_TLS12_KEY_MAT_PARAMS_PTR;

struct CK_TLS_KDF_PARAMS {
    CK_MECHANISM_TYPE prfMechanism;
    CK_BYTE_PTR pLabel;
    CK_ULONG ulLabelLength;
    CK_SSL3_RANDOM_DATA RandomInfo;
    CK_BYTE_PTR pContextData;
    CK_ULONG ulContextDataLength;
};
typedef CK_TLS_KDF_PARAMS* CK_TLS_KDF_PARAMS_PTR;

struct CK_TLS_MAC_PARAMS {
    CK_MECHANISM_TYPE prfHashMechanism;
    CK_ULONG ulMacLength;
    CK_ULONG ulServerOrClient;
};
typedef CK_TLS_MAC_PARAMS* CK_TLS_MAC_PARAMS_PTR;

struct CK_AES_CTR_PARAMS {
    CK_ULONG ulCounterBits;
    CK_BYTE cb[16];
};
typedef CK_AES_CTR_PARAMS* CK_AES_CTR_PARAMS_PTR;

struct CK_CAMELLIA_CTR_PARAMS {
    CK_ULONG ulCounterBits;
    CK_BYTE cb[16];
};
typedef CK_CAMELLIA_CTR_PARAMS* CK_CAMELLIA_CTR_PARAMS_PTR;

struct CK_GCM_PARAMS {
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
    CK_ULONG ulIvBits;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
    CK_ULONG ulTagBits;
};
typedef CK_GCM_PARAMS* CK_GCM_PARAMS_PTR;

// The GCM record as the 2.30 text and modules built on headers before 2.40
// describe it: without ulIvBits. Same members otherwise; a module expects
// one layout or the other, and nothing in the record tells them apart.
struct CK_GCM_PARAMS_WITHOUT_IV_BITS {
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
    CK_ULONG ulTagBits;
};
typedef CK_GCM_PARAMS_WITHOUT_IV_BITS* CK_GCM_PARAMS_WITHOUT_IV_BITS_PTR;

struct CK_CCM_PARAMS {
    CK_ULONG ulDataLen;
    CK_BYTE_PTR pNonce;
    CK_ULONG ulNonceLen;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
    CK_ULONG ulMACLen;
};
typedef CK_CCM_PARAMS* CK_CCM_PARAMS_PTR;

struct CK_RSA_AES_KEY_WRAP_PARAMS {
    CK_ULONG ulAESKeyBits;
    CK_RSA_PKCS_OAEP_PARAMS_PTR pOAEPParams;
};
typedef CK_RSA_AES_KEY_WRAP_PARAMS* CK_RSA_AES_KEY_WRAP_PARAMS_PTR;

struct CK_ECDH_AES_KEY_WRAP_PARAMS {
    CK_ULONG ulAESKeyBits;
    CK_EC_KDF_TYPE kdf;
    CK_ULONG ulSharedDataLen;
    CK_BYTE_PTR pSharedData;
};
typedef CK_ECDH_AES_KEY_WRAP_PARAMS* CK_ECDH_AES_KEY_WRAP_PARAMS_PTR;

// --- Mechanism parameters of version 3.0 ----------------------------------

// The block counter and the nonce are given in bits; pBlockCounter holds
// blockCounterBits / 8 bytes.
struct CK_CHACHA20_PARAMS {
    CK_BYTE_PTR pBlockCounter;
    CK_ULONG blockCounterBits;
    CK_BYTE_PTR pNonce;
    CK_ULONG ulNonceBits;
};
typedef CK_CHACHA20_PARAMS* CK_CHACHA20_PARAMS_PTR;

struct CK_SALSA20_CHACHA20_POLY1305_PARAMS {
    CK_BYTE_PTR pNonce;
    CK_ULONG ulNonceLen;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
};
typedef CK_SALSA20_CHACHA20_POLY1305_PARAMS* CK_SALSA20_CHACHA20_POLY1305_PARAMS_PTR;

struct CK_EDDSA_PARAMS {
    CK_BBOOL phFlag;  // CK_TRUE for the pre-hashed variant (Ed25519ph, Ed448ph)
    CK_ULONG ulContextDataLen;
    CK_BYTE_PTR pContextData;
};
typedef CK_EDDSA_PARAMS* CK_EDDSA_PARAMS_PTR;

// The 2.40 mend of CK_PKCS5_PBKD2_PARAMS: the password length by value.
struct CK_PKCS5_PBKD2_PARAMS2 {
    CK_PKCS5_PBKDF2_SALT_SOURCE_TYPE saltSource;
    CK_VOID_PTR pSaltSourceData;
    CK_ULONG ulSaltSourceDataLen;
    CK_ULONG iterations;
    CK_PKCS5_PBKD2_PSEUDO_RANDOM_FUNCTION_TYPE prf;
    CK_VOID_PTR pPrfData;
    CK_ULONG ulPrfDataLen;
    CK_UTF8CHAR_PTR pPassword;
    CK_ULONG ulPasswordLen;
};
typedef CK_PKCS5_PBKD2_PARAMS2* CK_PKCS5_PBKD2_PARAMS2_PTR;

// Per-message parameters of the message-based functions. The module may
// write into pIv or pNonce (a generated IV) and into pTag or pMAC (the tag
// of an encryption); pTag holds ulTagBits / 8 bytes.
struct CK_GCM_MESSAGE_PARAMS {
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
    CK_ULONG ulIvFixedBits;
    CK_GENERATOR_FUNCTION ivGenerator;
    CK_BYTE_PTR pTag;
    CK_ULONG ulTagBits;
};
typedef CK_GCM_MESSAGE_PARAMS* CK_GCM_MESSAGE_PARAMS_PTR;

struct CK_CCM_MESSAGE_PARAMS {
    CK_ULONG ulDataLen;
    CK_BYTE_PTR pNonce;
    CK_ULONG ulNonceLen;
    CK_ULONG ulNonceFixedBits;
    CK_GENERATOR_FUNCTION nonceGenerator;
    CK_BYTE_PTR pMAC;
    CK_ULONG ulMACLen;
};
typedef CK_CCM_MESSAGE_PARAMS* CK_CCM_MESSAGE_PARAMS_PTR;

// pTag holds the 16-byte Poly1305 tag.
struct CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS {
    CK_BYTE_PTR pNonce;
    CK_ULONG ulNonceLen;
    CK_BYTE_PTR pTag;
};
typedef CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS* CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS_PTR;

// ulSaltType is a CKF_HKDF_SALT_ value: no salt, pSalt, or the key hSaltKey.
struct CK_HKDF_PARAMS {
    CK_BBOOL bExtract;
    CK_BBOOL bExpand;
    CK_MECHANISM_TYPE prfHashMechanism;
    CK_ULONG ulSaltType;
    CK_BYTE_PTR pSalt;
    CK_ULONG ulSaltLen;
    CK_OBJECT_HANDLE hSaltKey;
    CK_BYTE_PTR pInfo;
    CK_ULONG ulInfoLen;
};
typedef CK_HKDF_PARAMS* CK_HKDF_PARAMS_PTR;

// One input of an SP 800-108 key derivation: pValue points at a
// CK_SP800_108_COUNTER_FORMAT, a CK_SP800_108_DKM_LENGTH_FORMAT or bytes,
// depending on type (a CK_SP800_108_ value).
struct CK_PRF_DATA_PARAM {
    CK_PRF_DATA_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;
};
typedef CK_PRF_DATA_PARAM* CK_PRF_DATA_PARAM_PTR;

struct CK_SP800_108_COUNTER_FORMAT {
    CK_BBOOL bLittleEndian;
    CK_ULONG ulWidthInBits;
};
typedef CK_SP800_108_COUNTER_FORMAT* CK_SP800_108_COUNTER_FORMAT_PTR;

struct CK_SP800_108_DKM_LENGTH_FORMAT {
    CK_SP800_108_DKM_LENGTH_METHOD dkmLengthMethod;
    CK_BBOOL bLittleEndian;
    CK_ULONG ulWidthInBits;
};
typedef CK_SP800_108_DKM_LENGTH_FORMAT* CK_SP800_108_DKM_LENGTH_FORMAT_PTR;

// A further key that an SP 800-108 derivation makes; the module writes its
// handle into *phKey.
struct CK_DERIVED_KEY {
    CK_ATTRIBUTE_PTR pTemplate;
    CK_ULONG ulAttributeCount;
    CK_OBJECT_HANDLE_PTR phKey;
};
typedef CK_DERIVED_KEY* CK_DERIVED_KEY_PTR;

// Counter and double-pipeline mode. (The 3.0 text types
// pAdditionalDerivedKeys as a CK_DERIVED_KEY; it is a pointer to an array.)
struct CK_SP800_108_KDF_PARAMS {
    CK_SP800_108_PRF_TYPE prfType;
    CK_ULONG ulNumberOfDataParams;
    CK_PRF_DATA_PARAM_PTR pDataParams;
    CK_ULONG ulAdditionalDerivedKeys;
    CK_DERIVED_KEY_PTR pAdditionalDerivedKeys;
};
typedef CK_SP800_108_KDF_PARAMS* CK_SP800_108_KDF_PARAMS_PTR;

// Feedback mode: the counter-mode record with an IV.
struct CK_SP800_108_FEEDBACK_KDF_PARAMS {
    CK_SP800_108_PRF_TYPE prfType;
    CK_ULONG ulNumberOfDataParams;
    CK_PRF_DATA_PARAM_PTR pDataParams;
    CK_ULONG ulIVLen;
    CK_BYTE_PTR pIV;
    CK_ULONG ulAdditionalDerivedKeys;
    CK_DERIVED_KEY_PTR pAdditionalDerivedKeys;
};
typedef CK_SP800_108_FEEDBACK_KDF_PARAMS* CK_SP800_108_FEEDBACK_KDF_PARAMS_PTR;

// One-time-password parameters.
struct CK_OTP_PARAM {
    CK_OTP_PARAM_TYPE type;
    CK_VOID_PTR pValue;
    CK_ULONG ulValueLen;
};
typedef CK_OTP_PARAM* CK_OTP_PARAM_PTR;

struct CK_OTP_PARAMS {
    CK_OTP_PARAM_PTR pParams;
    CK_ULONG ulCount;
};
typedef CK_OTP_PARAMS* CK_OTP_PARAMS_PTR;

struct CK_OTP_SIGNATURE_INFO {
    CK_OTP_PARAM_PTR pParams;
    CK_ULONG ulCount;
};
typedef CK_OTP_SIGNATURE_INFO* CK_OTP_SIGNATURE_INFO_PTR;

#if defined(_WIN32)
#pragma pack(pop)
#endif

#endif  // PKCS11_PKCS11_TYPES_H
