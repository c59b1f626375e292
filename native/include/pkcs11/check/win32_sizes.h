// Record sizes on Windows, where every PKCS#11 structure is packed to 1 byte
// and CK_ULONG (unsigned long) has 32 bits in both widths: on 32-bit Windows
// pointers and handles have 4 bytes as well; on Windows x64 (LLP64) pointers
// have 8 while CK_ULONG keeps 4. The Java side and the parameter conversions
// rely on exactly these sizes (ulParameterLen of a mechanism parameter record
// is its size), so a Windows build that includes this header fails to compile
// if the layout drifts. With 1-byte packing each size is the sum of the
// members' sizes: a pointer 4 or 8, CK_ULONG 4, CK_BBOOL and CK_BYTE 1.
//
// Elsewhere the header checks nothing: on other targets the sizes follow
// from the width of CK_ULONG and natural alignment, and check/layout_check.cpp
// compares them with independent headers instead.

#ifndef PKCS11_CHECK_WIN32_SIZES_H
#define PKCS11_CHECK_WIN32_SIZES_H

#include <stddef.h>

#include "../pkcs11.h"

#if defined(_WIN32)

// Each record: its size on 32-bit Windows, its size on Windows x64.
#define PKCS11_CHECK_WINDOWS_SIZES(X) \
    /* Information records */ \
    X(CK_VERSION, 2, 2) \
    X(CK_DATE, 8, 8) \
    X(CK_INFO, 72, 72) \
    X(CK_SLOT_INFO, 104, 104) \
    X(CK_TOKEN_INFO, 160, 160) \
    X(CK_SESSION_INFO, 16, 16) \
    X(CK_MECHANISM_INFO, 12, 12) \
    X(CK_ATTRIBUTE, 12, 16) \
    X(CK_MECHANISM, 12, 16) \
    X(CK_C_INITIALIZE_ARGS, 24, 44) \
    /* Mechanism parameter records */ \
    X(CK_RSA_PKCS_OAEP_PARAMS, 20, 24) \
    X(CK_KEA_DERIVE_PARAMS, 21, 33) \
    X(CK_RC2_CBC_PARAMS, 12, 12) \
    X(CK_RC2_MAC_GENERAL_PARAMS, 8, 8) \
    X(CK_RC5_PARAMS, 8, 8) \
    X(CK_RC5_CBC_PARAMS, 16, 20) \
    X(CK_RC5_MAC_GENERAL_PARAMS, 12, 12) \
    X(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, 44, 68) \
    X(CK_SKIPJACK_RELAYX_PARAMS, 56, 84) \
    X(CK_PBE_PARAMS, 24, 36) \
    X(CK_PKCS5_PBKD2_PARAMS, 36, 52) \
    X(CK_KEY_DERIVATION_STRING_DATA, 8, 12) \
    X(CK_KEY_WRAP_SET_OAEP_PARAMS, 9, 13) \
    X(CK_SSL3_RANDOM_DATA, 16, 24) \
    X(CK_SSL3_MASTER_KEY_DERIVE_PARAMS, 20, 32) \
    X(CK_SSL3_KEY_MAT_PARAMS, 33, 45) \
    X(CK_SSL3_KEY_MAT_OUT, 24, 32) \
    X(CK_RSA_PKCS_PSS_PARAMS, 12, 12) \
    X(CK_ECDH1_DERIVE_PARAMS, 20, 28) \
    X(CK_ECDH2_DERIVE_PARAMS, 36, 48) \
    X(CK_X9_42_DH1_DERIVE_PARAMS, 20, 28) \
    X(CK_X9_42_DH2_DERIVE_PARAMS, 36, 48) \
    X(CK_GCM_PARAMS, 24, 32) \
    X(CK_GCM_PARAMS_WITHOUT_IV_BITS, 20, 28) \
    X(CK_CCM_PARAMS, 24, 32) \
    X(CK_AES_CTR_PARAMS, 20, 20) \
    X(CK_AES_CBC_ENCRYPT_DATA_PARAMS, 24, 28) \
    X(CK_DES_CBC_ENCRYPT_DATA_PARAMS, 16, 20) \
    X(CK_ECDH_AES_KEY_WRAP_PARAMS, 16, 20) \
    X(CK_RSA_AES_KEY_WRAP_PARAMS, 8, 12) \
    X(CK_CHACHA20_PARAMS, 16, 24) \
    X(CK_SALSA20_CHACHA20_POLY1305_PARAMS, 16, 24) \
    X(CK_EDDSA_PARAMS, 9, 13) \
    X(CK_PKCS5_PBKD2_PARAMS2, 36, 48) \
    X(CK_GCM_MESSAGE_PARAMS, 24, 32) \
    X(CK_CCM_MESSAGE_PARAMS, 28, 36) \
    X(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, 12, 20) \
    X(CK_HKDF_PARAMS, 30, 38) \
    X(CK_PRF_DATA_PARAM, 12, 16) \
    X(CK_SP800_108_COUNTER_FORMAT, 5, 5) \
    X(CK_SP800_108_DKM_LENGTH_FORMAT, 9, 9) \
    X(CK_DERIVED_KEY, 12, 20) \
    X(CK_SP800_108_KDF_PARAMS, 20, 28) \
    X(CK_SP800_108_FEEDBACK_KDF_PARAMS, 28, 40) \
    X(CK_INTERFACE, 12, 20)

#if defined(_WIN64)
#define PKCS11_WINDOWS_POINTER 8
#define PKCS11_CHECK_WINDOWS_SIZE(T, win32Size, win64Size) \
    static_assert(sizeof(T) == (win64Size), #T ": size differs on Windows x64");
#else
#define PKCS11_WINDOWS_POINTER 4
#define PKCS11_CHECK_WINDOWS_SIZE(T, win32Size, win64Size) \
    static_assert(sizeof(T) == (win32Size), #T ": size differs on 32-bit Windows");
#endif

// The premises of the numbers.
static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32 bits on Windows, in both widths");
static_assert(sizeof(CK_VOID_PTR) == PKCS11_WINDOWS_POINTER, "pointers have the build's width");
static_assert(sizeof(CK_NOTIFY) == PKCS11_WINDOWS_POINTER, "function pointers have the build's width");
static_assert(alignof(CK_INFO) == 1, "PKCS#11 records are packed to 1 byte on Windows");

PKCS11_CHECK_WINDOWS_SIZES(PKCS11_CHECK_WINDOWS_SIZE)

static_assert(offsetof(CK_EDDSA_PARAMS, ulContextDataLen) == 1);
static_assert(offsetof(CK_HKDF_PARAMS, prfHashMechanism) == 2);
static_assert(offsetof(CK_ATTRIBUTE, pValue) == 4);
static_assert(offsetof(CK_ATTRIBUTE, ulValueLen) == 4 + PKCS11_WINDOWS_POINTER);

// The function lists: a 2-byte version followed by 68 (2.x) or 92 (3.0)
// entry points; an interface is two pointers and a CK_FLAGS.
static_assert(sizeof(CK_FUNCTION_LIST) == 2 + 68 * PKCS11_WINDOWS_POINTER);
static_assert(sizeof(CK_FUNCTION_LIST_3_0) == 2 + 92 * PKCS11_WINDOWS_POINTER);
static_assert(sizeof(CK_INTERFACE) == 2 * PKCS11_WINDOWS_POINTER + 4);

#undef PKCS11_CHECK_WINDOWS_SIZE
#undef PKCS11_WINDOWS_POINTER

#endif  // _WIN32

#endif  // PKCS11_CHECK_WIN32_SIZES_H
