// A PKCS#11 module whose entries return at once, for measuring what a binding adds to a call.
// Unlike the scriptable test module it records nothing, and like most real modules it exports
// every C_ function by name as well as through its function list.
#include <cstring>

#include "pkcs11/pkcs11.h"

#define BENCH_EXPORT extern "C" __attribute__((visibility("default")))

// Every entry of the 2.x list is exported by name; declared from the list's rows.
#define BENCH_DECLARE(name, major, minor, arguments) \
    PKCS11_IN_2X(major, minor, BENCH_EXPORT CK_RV name arguments;)
PKCS11_FUNCTIONS(BENCH_DECLARE)
#undef BENCH_DECLARE

namespace {

constexpr CK_ULONG kSignatureLength = 64;
constexpr CK_ULONG kObjects = 100;

CK_RV fill(CK_BYTE_PTR out, CK_ULONG_PTR outLen, CK_ULONG length) {
    if (outLen == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    if (out == nullptr) {
        *outLen = length;
        return CKR_OK;
    }
    if (*outLen < length) {
        *outLen = length;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < length; ++i) {
        out[i] = static_cast<CK_BYTE>(i);
    }
    *outLen = length;
    return CKR_OK;
}

}  // namespace

BENCH_EXPORT CK_RV C_Initialize(CK_VOID_PTR) { return CKR_OK; }
BENCH_EXPORT CK_RV C_Finalize(CK_VOID_PTR) { return CKR_OK; }
BENCH_EXPORT CK_RV C_GetInfo(CK_INFO_PTR info) {
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    std::memset(info, ' ', sizeof *info);
    info->cryptokiVersion = {2, 40};
    info->libraryVersion = {1, 0};
    info->flags = 0;
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    if (list != nullptr) {
        if (*count < 1) { *count = 1; return CKR_BUFFER_TOO_SMALL; }
        list[0] = 1;
    }
    *count = 1;
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_GetSlotInfo(CK_SLOT_ID, CK_SLOT_INFO_PTR) { return CKR_OK; }
BENCH_EXPORT CK_RV C_GetTokenInfo(CK_SLOT_ID, CK_TOKEN_INFO_PTR) { return CKR_OK; }
BENCH_EXPORT CK_RV C_GetMechanismList(CK_SLOT_ID, CK_MECHANISM_TYPE_PTR, CK_ULONG_PTR count) {
    if (count != nullptr) *count = 0;
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_GetMechanismInfo(CK_SLOT_ID, CK_MECHANISM_TYPE, CK_MECHANISM_INFO_PTR) { return CKR_OK; }
BENCH_EXPORT CK_RV C_InitToken(CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR) { return CKR_OK; }
BENCH_EXPORT CK_RV C_InitPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG) { return CKR_OK; }
BENCH_EXPORT CK_RV C_SetPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG) { return CKR_OK; }
BENCH_EXPORT CK_RV C_OpenSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
    if (session == nullptr) return CKR_ARGUMENTS_BAD;
    *session = 1;
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_CloseSession(CK_SESSION_HANDLE) { return CKR_OK; }
BENCH_EXPORT CK_RV C_CloseAllSessions(CK_SLOT_ID) { return CKR_OK; }
BENCH_EXPORT CK_RV C_GetSessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO_PTR info) {
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    info->slotID = 1;
    info->state = CKS_RW_USER_FUNCTIONS;
    info->flags = CKF_SERIAL_SESSION | CKF_RW_SESSION;
    info->ulDeviceError = 0;
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR len) { return fill(out, len, 16); }
BENCH_EXPORT CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) { return CKR_OK; }
BENCH_EXPORT CK_RV C_Login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG) { return CKR_OK; }
BENCH_EXPORT CK_RV C_Logout(CK_SESSION_HANDLE) { return CKR_OK; }
BENCH_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR h) { if (h) *h = 1; return CKR_OK; }
BENCH_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR h) { if (h) *h = 2; return CKR_OK; }
BENCH_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return CKR_OK; }
BENCH_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR size) { if (size) *size = 128; return CKR_OK; }
// Answers any template: CK_ULONG-sized values for the first five types used by the benchmark
// (class, key type, label, token, id) and a value of as many bytes as asked otherwise.
BENCH_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR t, CK_ULONG n) {
    if (t == nullptr && n != 0) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < n; ++i) {
        CK_ULONG length = 0;
        CK_BYTE value[16] = {};
        switch (t[i].type) {
            case CKA_CLASS: { CK_ULONG v = CKO_PRIVATE_KEY; std::memcpy(value, &v, sizeof v); length = sizeof v; break; }
            case CKA_KEY_TYPE: { CK_ULONG v = CKK_EC; std::memcpy(value, &v, sizeof v); length = sizeof v; break; }
            case CKA_LABEL: std::memcpy(value, "bench key", 9); length = 9; break;
            case CKA_TOKEN: value[0] = CK_TRUE; length = 1; break;
            default: std::memcpy(value, "0123456789abcdef", 16); length = 16; break;
        }
        if (t[i].pValue != nullptr) {
            if (t[i].ulValueLen < length) return CKR_BUFFER_TOO_SMALL;
            std::memcpy(t[i].pValue, value, length);
        }
        t[i].ulValueLen = length;
    }
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return CKR_OK; }
BENCH_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) { return CKR_OK; }
BENCH_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR out, CK_ULONG max, CK_ULONG_PTR count) {
    if (count == nullptr || (out == nullptr && max != 0)) return CKR_ARGUMENTS_BAD;
    const CK_ULONG n = max < kObjects ? max : kObjects;
    for (CK_ULONG i = 0; i < n; ++i) out[i] = i + 1;
    *count = n;
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE) { return CKR_OK; }
#define BENCH_INIT(name) \
    BENCH_EXPORT CK_RV name(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) { return CKR_OK; }
#define BENCH_TRANSFORM(name, length) \
    BENCH_EXPORT CK_RV name(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR out, CK_ULONG_PTR outLen) { return fill(out, outLen, length); }
#define BENCH_FINAL(name, length) \
    BENCH_EXPORT CK_RV name(CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR outLen) { return fill(out, outLen, length); }
#define BENCH_FEED(name) \
    BENCH_EXPORT CK_RV name(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return CKR_OK; }
BENCH_INIT(C_EncryptInit)
BENCH_TRANSFORM(C_Encrypt, 32)
BENCH_TRANSFORM(C_EncryptUpdate, 32)
BENCH_FINAL(C_EncryptFinal, 0)
BENCH_INIT(C_DecryptInit)
BENCH_TRANSFORM(C_Decrypt, 32)
BENCH_TRANSFORM(C_DecryptUpdate, 32)
BENCH_FINAL(C_DecryptFinal, 0)
BENCH_EXPORT CK_RV C_DigestInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR) { return CKR_OK; }
BENCH_TRANSFORM(C_Digest, 32)
BENCH_FEED(C_DigestUpdate)
BENCH_EXPORT CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return CKR_OK; }
BENCH_FINAL(C_DigestFinal, 32)
BENCH_INIT(C_SignInit)
BENCH_TRANSFORM(C_Sign, kSignatureLength)
BENCH_FEED(C_SignUpdate)
BENCH_FINAL(C_SignFinal, kSignatureLength)
BENCH_INIT(C_SignRecoverInit)
BENCH_TRANSFORM(C_SignRecover, kSignatureLength)
BENCH_INIT(C_VerifyInit)
BENCH_EXPORT CK_RV C_Verify(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG) { return CKR_OK; }
BENCH_FEED(C_VerifyUpdate)
BENCH_FEED(C_VerifyFinal)
BENCH_INIT(C_VerifyRecoverInit)
BENCH_TRANSFORM(C_VerifyRecover, 32)
BENCH_TRANSFORM(C_DigestEncryptUpdate, 32)
BENCH_TRANSFORM(C_DecryptDigestUpdate, 32)
BENCH_TRANSFORM(C_SignEncryptUpdate, 32)
BENCH_TRANSFORM(C_DecryptVerifyUpdate, 32)
BENCH_EXPORT CK_RV C_GenerateKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR h) { if (h) *h = 3; return CKR_OK; }
BENCH_EXPORT CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_ATTRIBUTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG,
                                     CK_OBJECT_HANDLE_PTR pub, CK_OBJECT_HANDLE_PTR priv) { if (pub) *pub = 4; if (priv) *priv = 5; return CKR_OK; }
BENCH_EXPORT CK_RV C_WrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR out, CK_ULONG_PTR len) { return fill(out, len, 24); }
BENCH_EXPORT CK_RV C_UnwrapKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR h) { if (h) *h = 6; return CKR_OK; }
BENCH_EXPORT CK_RV C_DeriveKey(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG, CK_OBJECT_HANDLE_PTR h) { if (h) *h = 7; return CKR_OK; }
BENCH_EXPORT CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return CKR_OK; }
BENCH_EXPORT CK_RV C_GenerateRandom(CK_SESSION_HANDLE, CK_BYTE_PTR out, CK_ULONG len) {
    if (out == nullptr && len != 0) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < len; ++i) out[i] = static_cast<CK_BYTE>(i);
    return CKR_OK;
}
BENCH_EXPORT CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_PARALLEL; }
BENCH_EXPORT CK_RV C_CancelFunction(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_PARALLEL; }
BENCH_EXPORT CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR slot, CK_VOID_PTR) { if (slot) *slot = 1; return CKR_OK; }

namespace {
// Every entry of the 2.x list, from the function list's rows.
#define BENCH_LIST_ENTRY(name, major, minor, arguments) PKCS11_IN_2X(major, minor, name, )
CK_FUNCTION_LIST functionList = {{2, 40}, PKCS11_FUNCTIONS(BENCH_LIST_ENTRY)};
#undef BENCH_LIST_ENTRY
}  // namespace

BENCH_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    *list = &functionList;
    return CKR_OK;
}
