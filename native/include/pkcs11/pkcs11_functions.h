// PKCS#11 (Cryptoki) function lists: the 2.x CK_FUNCTION_LIST and the 3.0
// CK_FUNCTION_LIST_3_0, with the interface records of 3.0.
//
// A 2.x module exports C_GetFunctionList; a 3.0 module also exports
// C_GetInterface, which hands out a CK_INTERFACE whose function list may be a
// CK_FUNCTION_LIST_3_0. Everything else is reached through the list.
// CK_C_<name> is the type of the entry <name>. All entries use the C calling
// convention (PKCS11_CALL).
//
// Every entry is written once, in PKCS11_FUNCTIONS below; the types, both
// structures, the layout check, the test module and the benchmark module
// expand that list.

#ifndef PKCS11_PKCS11_FUNCTIONS_H
#define PKCS11_PKCS11_FUNCTIONS_H

#include "pkcs11_types.h"

struct CK_FUNCTION_LIST;
typedef CK_FUNCTION_LIST* CK_FUNCTION_LIST_PTR;
typedef CK_FUNCTION_LIST_PTR* CK_FUNCTION_LIST_PTR_PTR;

struct CK_FUNCTION_LIST_3_0;
typedef CK_FUNCTION_LIST_3_0* CK_FUNCTION_LIST_3_0_PTR;
typedef CK_FUNCTION_LIST_3_0_PTR* CK_FUNCTION_LIST_3_0_PTR_PTR;

#if defined(_WIN32)
#pragma pack(push, 1)
#endif

// One interface of a 3.0 module (C_GetInterfaceList, C_GetInterface). The
// name is NUL-terminated ("PKCS 11" for the standard lists); pFunctionList
// points at a function list whose first member is its CK_VERSION.
struct CK_INTERFACE {
    CK_CHAR_PTR pInterfaceName;
    CK_VOID_PTR pFunctionList;
    CK_FLAGS flags;  // CKF_INTERFACE_FORK_SAFE
};
typedef CK_INTERFACE* CK_INTERFACE_PTR;
typedef CK_INTERFACE_PTR* CK_INTERFACE_PTR_PTR;

#if defined(_WIN32)
#pragma pack(pop)
#endif

// Every entry of the function lists, in the fixed order of the interface:
//   X(name, major, minor, (arguments))
// where major.minor is the version of the interface that introduced the
// entry (2.0, 2.01 for C_WaitForSlotEvent, 3.0). CK_FUNCTION_LIST has the
// rows of major version 2; CK_FUNCTION_LIST_3_0 has those up to 3.0, the 2.x
// rows first. A later version is this list with more rows at the end (the
// version filters below gain a line for it).
#define PKCS11_FUNCTIONS(X)                                                                         \
    /* General purpose */                                                                           \
    X(C_Initialize, 2, 0, (CK_VOID_PTR pInitArgs))                                                  \
    X(C_Finalize, 2, 0, (CK_VOID_PTR pReserved))                                                    \
    X(C_GetInfo, 2, 0, (CK_INFO_PTR pInfo))                                                         \
    X(C_GetFunctionList, 2, 0, (CK_FUNCTION_LIST_PTR_PTR ppFunctionList))                           \
    /* Slots and tokens */                                                                          \
    X(C_GetSlotList, 2, 0, (CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList,                        \
        CK_ULONG_PTR pulCount))                                                                     \
    X(C_GetSlotInfo, 2, 0, (CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo))                             \
    X(C_GetTokenInfo, 2, 0, (CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo))                           \
    X(C_GetMechanismList, 2, 0, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList,           \
        CK_ULONG_PTR pulCount))                                                                     \
    X(C_GetMechanismInfo, 2, 0, (CK_SLOT_ID slotID, CK_MECHANISM_TYPE type,                         \
        CK_MECHANISM_INFO_PTR pInfo))                                                               \
    X(C_InitToken, 2, 0, (CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,               \
        CK_UTF8CHAR_PTR pLabel))                                                                    \
    X(C_InitPIN, 2, 0, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen))       \
    X(C_SetPIN, 2, 0, (CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,      \
        CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen))                                                \
    /* Sessions */                                                                                  \
    X(C_OpenSession, 2, 0, (CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication,            \
        CK_NOTIFY Notify, CK_SESSION_HANDLE_PTR phSession))                                         \
    X(C_CloseSession, 2, 0, (CK_SESSION_HANDLE hSession))                                           \
    X(C_CloseAllSessions, 2, 0, (CK_SLOT_ID slotID))                                                \
    X(C_GetSessionInfo, 2, 0, (CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo))              \
    X(C_GetOperationState, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,          \
        CK_ULONG_PTR pulOperationStateLen))                                                         \
    X(C_SetOperationState, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,          \
        CK_ULONG ulOperationStateLen, CK_OBJECT_HANDLE hEncryptionKey,                              \
        CK_OBJECT_HANDLE hAuthenticationKey))                                                       \
    X(C_Login, 2, 0, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin,      \
        CK_ULONG ulPinLen))                                                                         \
    X(C_Logout, 2, 0, (CK_SESSION_HANDLE hSession))                                                 \
    /* Objects */                                                                                   \
    X(C_CreateObject, 2, 0, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,                \
        CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject))                                           \
    X(C_CopyObject, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,                    \
        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phNewObject))            \
    X(C_DestroyObject, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject))                \
    X(C_GetObjectSize, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,                 \
        CK_ULONG_PTR pulSize))                                                                      \
    X(C_GetAttributeValue, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,             \
        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))                                              \
    X(C_SetAttributeValue, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,             \
        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount))                                              \
    X(C_FindObjectsInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,             \
        CK_ULONG ulCount))                                                                          \
    X(C_FindObjects, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,              \
        CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount))                                    \
    X(C_FindObjectsFinal, 2, 0, (CK_SESSION_HANDLE hSession))                                       \
    /* Encryption */                                                                                \
    X(C_EncryptInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_Encrypt, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,          \
        CK_BYTE_PTR pEncryptedData, CK_ULONG_PTR pulEncryptedDataLen))                              \
    X(C_EncryptUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,    \
        CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))                              \
    X(C_EncryptFinal, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,            \
        CK_ULONG_PTR pulLastEncryptedPartLen))                                                      \
    /* Decryption */                                                                                \
    X(C_DecryptInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_Decrypt, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData,                     \
        CK_ULONG ulEncryptedDataLen, CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))                   \
    X(C_DecryptUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,               \
        CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                   \
    X(C_DecryptFinal, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart,                     \
        CK_ULONG_PTR pulLastPartLen))                                                               \
    /* Message digesting */                                                                         \
    X(C_DigestInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism))                \
    X(C_Digest, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,           \
        CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen))                                            \
    X(C_DigestUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))    \
    X(C_DigestKey, 2, 0, (CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey))                       \
    X(C_DigestFinal, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest,                        \
        CK_ULONG_PTR pulDigestLen))                                                                 \
    /* Signing and MACing */                                                                        \
    X(C_SignInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                   \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_Sign, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,             \
        CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))                                      \
    X(C_SignUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))      \
    X(C_SignFinal, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,                       \
        CK_ULONG_PTR pulSignatureLen))                                                              \
    X(C_SignRecoverInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,            \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_SignRecover, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,      \
        CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen))                                      \
    /* Verifying signatures and MACs */                                                             \
    X(C_VerifyInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                 \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_Verify, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen,           \
        CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen))                                           \
    X(C_VerifyUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen))    \
    X(C_VerifyFinal, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,                     \
        CK_ULONG ulSignatureLen))                                                                   \
    X(C_VerifyRecoverInit, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,          \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_VerifyRecover, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature,                   \
        CK_ULONG ulSignatureLen, CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen))                       \
    /* Dual-function operations */                                                                  \
    X(C_DigestEncryptUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,                  \
        CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))          \
    X(C_DecryptDigestUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,         \
        CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                   \
    X(C_SignEncryptUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart,                    \
        CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen))          \
    X(C_DecryptVerifyUpdate, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart,         \
        CK_ULONG ulEncryptedPartLen, CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen))                   \
    /* Key management */                                                                            \
    X(C_GenerateKey, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                \
        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey))                  \
    X(C_GenerateKeyPair, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,            \
        CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,                    \
        CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,                  \
        CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey))                       \
    X(C_WrapKey, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                    \
        CK_OBJECT_HANDLE hWrappingKey, CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey,              \
        CK_ULONG_PTR pulWrappedKeyLen))                                                             \
    X(C_UnwrapKey, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                  \
        CK_OBJECT_HANDLE hUnwrappingKey, CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen,         \
        CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey))         \
    X(C_DeriveKey, 2, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,                  \
        CK_OBJECT_HANDLE hBaseKey, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount,           \
        CK_OBJECT_HANDLE_PTR phKey))                                                                \
    /* Random number generation */                                                                  \
    X(C_SeedRandom, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSeed, CK_ULONG ulSeedLen))      \
    X(C_GenerateRandom, 2, 0, (CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData,                  \
        CK_ULONG ulRandomLen))                                                                      \
    /* Parallel function management (legacy) */                                                     \
    X(C_GetFunctionStatus, 2, 0, (CK_SESSION_HANDLE hSession))                                      \
    X(C_CancelFunction, 2, 0, (CK_SESSION_HANDLE hSession))                                         \
    /* Slot events (2.01) */                                                                        \
    X(C_WaitForSlotEvent, 2, 1, (CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved))      \
    /* Interfaces */                                                                                \
    X(C_GetInterfaceList, 3, 0, (CK_INTERFACE_PTR pInterfacesList, CK_ULONG_PTR pulCount))          \
    X(C_GetInterface, 3, 0, (CK_UTF8CHAR_PTR pInterfaceName, CK_VERSION_PTR pVersion,               \
        CK_INTERFACE_PTR_PTR ppInterface, CK_FLAGS flags))                                          \
    /* Login of a named user, cancelling operations */                                              \
    X(C_LoginUser, 3, 0, (CK_SESSION_HANDLE hSession, CK_USER_TYPE userType,                        \
        CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pUsername,                         \
        CK_ULONG ulUsernameLen))                                                                    \
    X(C_SessionCancel, 3, 0, (CK_SESSION_HANDLE hSession, CK_FLAGS flags))                          \
    /* Message-based encryption */                                                                  \
    X(C_MessageEncryptInit, 3, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,         \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_EncryptMessage, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,                  \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen,         \
        CK_BYTE_PTR pPlaintext, CK_ULONG ulPlaintextLen, CK_BYTE_PTR pCiphertext,                   \
        CK_ULONG_PTR pulCiphertextLen))                                                             \
    X(C_EncryptMessageBegin, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,             \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen))        \
    X(C_EncryptMessageNext, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,              \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pPlaintextPart, CK_ULONG ulPlaintextPartLen,           \
        CK_BYTE_PTR pCiphertextPart, CK_ULONG_PTR pulCiphertextPartLen, CK_FLAGS flags))            \
    X(C_MessageEncryptFinal, 3, 0, (CK_SESSION_HANDLE hSession))                                    \
    /* Message-based decryption */                                                                  \
    X(C_MessageDecryptInit, 3, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,         \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_DecryptMessage, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,                  \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen,         \
        CK_BYTE_PTR pCiphertext, CK_ULONG ulCiphertextLen, CK_BYTE_PTR pPlaintext,                  \
        CK_ULONG_PTR pulPlaintextLen))                                                              \
    X(C_DecryptMessageBegin, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,             \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen))        \
    X(C_DecryptMessageNext, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,              \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pCiphertextPart, CK_ULONG ulCiphertextPartLen,         \
        CK_BYTE_PTR pPlaintextPart, CK_ULONG_PTR pulPlaintextPartLen, CK_FLAGS flags))              \
    X(C_MessageDecryptFinal, 3, 0, (CK_SESSION_HANDLE hSession))                                    \
    /* Message-based signing and MACing */                                                          \
    X(C_MessageSignInit, 3, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,            \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_SignMessage, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,                     \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,     \
        CK_ULONG_PTR pulSignatureLen))                                                              \
    X(C_SignMessageBegin, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,                \
        CK_ULONG ulParameterLen))                                                                   \
    X(C_SignMessageNext, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,                 \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,     \
        CK_ULONG_PTR pulSignatureLen))                                                              \
    X(C_MessageSignFinal, 3, 0, (CK_SESSION_HANDLE hSession))                                       \
    /* Message-based verification */                                                                \
    X(C_MessageVerifyInit, 3, 0, (CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,          \
        CK_OBJECT_HANDLE hKey))                                                                     \
    X(C_VerifyMessage, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,                   \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,     \
        CK_ULONG ulSignatureLen))                                                                   \
    X(C_VerifyMessageBegin, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,              \
        CK_ULONG ulParameterLen))                                                                   \
    X(C_VerifyMessageNext, 3, 0, (CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,               \
        CK_ULONG ulParameterLen, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,     \
        CK_ULONG ulSignatureLen))                                                                   \
    X(C_MessageVerifyFinal, 3, 0, (CK_SESSION_HANDLE hSession))

// The version filters. PKCS11_IN_2X(major, minor, text) keeps the text for a row of version
// major.minor that the 2.x list holds, PKCS11_IN_3_0 for one the 3.0 list holds: a list holds
// every row up to its own version. PKCS11_AFTER_2X keeps it for a row the 2.x list lacks. Each
// filter has a line per version: a later version (3.1, 3.2) adds its line to each (kept by no
// earlier list, kept by PKCS11_AFTER_2X) and a filter and a list of its own; a row of a version
// that a filter has no line for fails to compile.
#define PKCS11_IN_2X(major, minor, ...) PKCS11_IN_2X_##major##_##minor(__VA_ARGS__)
#define PKCS11_IN_2X_2_0(...) __VA_ARGS__
#define PKCS11_IN_2X_2_1(...) __VA_ARGS__
#define PKCS11_IN_2X_3_0(...)
#define PKCS11_IN_3_0(major, minor, ...) PKCS11_IN_3_0_##major##_##minor(__VA_ARGS__)
#define PKCS11_IN_3_0_2_0(...) __VA_ARGS__
#define PKCS11_IN_3_0_2_1(...) __VA_ARGS__
#define PKCS11_IN_3_0_3_0(...) __VA_ARGS__
#define PKCS11_AFTER_2X(major, minor, ...) PKCS11_AFTER_2X_##major##_##minor(__VA_ARGS__)
#define PKCS11_AFTER_2X_2_0(...)
#define PKCS11_AFTER_2X_2_1(...)
#define PKCS11_AFTER_2X_3_0(...) __VA_ARGS__

// The number of entries of each list.
#define PKCS11_COUNT_ENTRY_3_0(name, major, minor, arguments) PKCS11_IN_3_0(major, minor, +1)
#define PKCS11_COUNT_ENTRY_2(name, major, minor, arguments) PKCS11_IN_2X(major, minor, +1)
enum : unsigned {
    CK_FUNCTION_LIST_ENTRIES = 0 PKCS11_FUNCTIONS(PKCS11_COUNT_ENTRY_2),
    CK_FUNCTION_LIST_3_0_ENTRIES = 0 PKCS11_FUNCTIONS(PKCS11_COUNT_ENTRY_3_0),
};
#undef PKCS11_COUNT_ENTRY_3_0
#undef PKCS11_COUNT_ENTRY_2

extern "C" {

// CK_C_<name>, the type of each entry. CK_C_GetFunctionList is also the type
// of the module's exported entry point, as looked up by name, and likewise
// CK_C_GetInterface and CK_C_GetInterfaceList.
#define PKCS11_ENTRY_TYPE(name, major, minor, arguments) \
    typedef CK_RV(PKCS11_CALL* CK_##name) arguments;
PKCS11_FUNCTIONS(PKCS11_ENTRY_TYPE)
#undef PKCS11_ENTRY_TYPE

}  // extern "C"

#if defined(_WIN32)
#pragma pack(push, 1)
#endif

#define PKCS11_ENTRY_MEMBER_3_0(name, major, minor, arguments) \
    PKCS11_IN_3_0(major, minor, CK_##name name;)
#define PKCS11_ENTRY_MEMBER_2(name, major, minor, arguments) PKCS11_IN_2X(major, minor, CK_##name name;)

// The 2.x table of entry points.
struct CK_FUNCTION_LIST {
    CK_VERSION version;
    PKCS11_FUNCTIONS(PKCS11_ENTRY_MEMBER_2)
};

// The 3.0 table: the 2.x entries, then those of 3.0.
struct CK_FUNCTION_LIST_3_0 {
    CK_VERSION version;
    PKCS11_FUNCTIONS(PKCS11_ENTRY_MEMBER_3_0)
};

#undef PKCS11_ENTRY_MEMBER_3_0
#undef PKCS11_ENTRY_MEMBER_2

#if defined(_WIN32)
#pragma pack(pop)
#endif

#endif  // PKCS11_PKCS11_FUNCTIONS_H
