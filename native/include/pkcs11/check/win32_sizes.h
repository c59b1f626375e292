// Record sizes on 32-bit Windows, where CK_ULONG, handles and pointers are
// 4 bytes and every PKCS#11 structure is packed to 1 byte. The Java side and
// the parameter conversions rely on exactly these sizes (ulParameterLen of a
// mechanism parameter record is its size), so a 32-bit Windows build that
// includes this header fails to compile if the layout drifts.
//
// Elsewhere the header checks nothing: on other targets the sizes follow
// from the width of CK_ULONG and natural alignment, and check/layout_check.cpp
// compares them with independent headers instead.

#ifndef PKCS11_CHECK_WIN32_SIZES_H
#define PKCS11_CHECK_WIN32_SIZES_H

#include <stddef.h>

#include "../pkcs11.h"

#if defined(_WIN32) && !defined(_WIN64)

// The premises of the numbers below.
static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32 bits on Win32");
static_assert(sizeof(CK_VOID_PTR) == 4, "pointers are 32 bits on Win32");
static_assert(alignof(CK_INFO) == 1, "PKCS#11 records are packed to 1 byte on Windows");

// Information records
static_assert(sizeof(CK_VERSION) == 2);
static_assert(sizeof(CK_DATE) == 8);
static_assert(sizeof(CK_INFO) == 72);
static_assert(sizeof(CK_SLOT_INFO) == 104);
static_assert(sizeof(CK_TOKEN_INFO) == 160);
static_assert(sizeof(CK_SESSION_INFO) == 16);
static_assert(sizeof(CK_MECHANISM_INFO) == 12);
static_assert(sizeof(CK_ATTRIBUTE) == 12);
static_assert(sizeof(CK_MECHANISM) == 12);
static_assert(sizeof(CK_C_INITIALIZE_ARGS) == 24);

// Mechanism parameter records
static_assert(sizeof(CK_RSA_PKCS_OAEP_PARAMS) == 20);
static_assert(sizeof(CK_KEA_DERIVE_PARAMS) == 21);
static_assert(sizeof(CK_RC2_CBC_PARAMS) == 12);
static_assert(sizeof(CK_RC2_MAC_GENERAL_PARAMS) == 8);
static_assert(sizeof(CK_RC5_PARAMS) == 8);
static_assert(sizeof(CK_RC5_CBC_PARAMS) == 16);
static_assert(sizeof(CK_RC5_MAC_GENERAL_PARAMS) == 12);
static_assert(sizeof(CK_SKIPJACK_PRIVATE_WRAP_PARAMS) == 44);
static_assert(sizeof(CK_SKIPJACK_RELAYX_PARAMS) == 56);
static_assert(sizeof(CK_PBE_PARAMS) == 24);
static_assert(sizeof(CK_PKCS5_PBKD2_PARAMS) == 36);
static_assert(sizeof(CK_KEY_DERIVATION_STRING_DATA) == 8);
static_assert(sizeof(CK_KEY_WRAP_SET_OAEP_PARAMS) == 9);
static_assert(sizeof(CK_SSL3_RANDOM_DATA) == 16);
static_assert(sizeof(CK_SSL3_MASTER_KEY_DERIVE_PARAMS) == 20);
static_assert(sizeof(CK_SSL3_KEY_MAT_PARAMS) == 33);
static_assert(sizeof(CK_SSL3_KEY_MAT_OUT) == 24);
static_assert(sizeof(CK_RSA_PKCS_PSS_PARAMS) == 12);
static_assert(sizeof(CK_ECDH1_DERIVE_PARAMS) == 20);
static_assert(sizeof(CK_ECDH2_DERIVE_PARAMS) == 36);
static_assert(sizeof(CK_X9_42_DH1_DERIVE_PARAMS) == 20);
static_assert(sizeof(CK_X9_42_DH2_DERIVE_PARAMS) == 36);
static_assert(sizeof(CK_GCM_PARAMS) == 24);
static_assert(sizeof(CK_GCM_PARAMS_WITHOUT_IV_BITS) == 20);
static_assert(sizeof(CK_CCM_PARAMS) == 24);
static_assert(sizeof(CK_AES_CTR_PARAMS) == 20);
static_assert(sizeof(CK_AES_CBC_ENCRYPT_DATA_PARAMS) == 24);
static_assert(sizeof(CK_DES_CBC_ENCRYPT_DATA_PARAMS) == 16);
static_assert(sizeof(CK_ECDH_AES_KEY_WRAP_PARAMS) == 16);
static_assert(sizeof(CK_RSA_AES_KEY_WRAP_PARAMS) == 8);
static_assert(sizeof(CK_CHACHA20_PARAMS) == 16);
static_assert(sizeof(CK_SALSA20_CHACHA20_POLY1305_PARAMS) == 16);
static_assert(sizeof(CK_EDDSA_PARAMS) == 9);
static_assert(sizeof(CK_PKCS5_PBKD2_PARAMS2) == 36);
static_assert(sizeof(CK_GCM_MESSAGE_PARAMS) == 24);
static_assert(sizeof(CK_CCM_MESSAGE_PARAMS) == 28);
static_assert(sizeof(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS) == 12);
static_assert(sizeof(CK_HKDF_PARAMS) == 30);
static_assert(sizeof(CK_PRF_DATA_PARAM) == 12);
static_assert(sizeof(CK_SP800_108_COUNTER_FORMAT) == 5);
static_assert(sizeof(CK_SP800_108_DKM_LENGTH_FORMAT) == 9);
static_assert(sizeof(CK_DERIVED_KEY) == 12);
static_assert(sizeof(CK_SP800_108_KDF_PARAMS) == 20);
static_assert(sizeof(CK_SP800_108_FEEDBACK_KDF_PARAMS) == 28);
static_assert(offsetof(CK_EDDSA_PARAMS, ulContextDataLen) == 1);
static_assert(offsetof(CK_HKDF_PARAMS, prfHashMechanism) == 2);

// The function lists: a 2-byte version followed by 68 (2.x) or 92 (3.0)
// entry points; an interface is three 4-byte members.
static_assert(sizeof(CK_FUNCTION_LIST) == 2 + 68 * 4);
static_assert(sizeof(CK_FUNCTION_LIST_3_0) == 2 + 92 * 4);
static_assert(sizeof(CK_INTERFACE) == 12);

#endif  // _WIN32 && !_WIN64

#endif  // PKCS11_CHECK_WIN32_SIZES_H
