// General-purpose, slot and token entries, and the function list.
#include "entries.hpp"

#include <algorithm>
#include <cstring>

namespace vtm {

void setText(CK_UTF8CHAR* field, std::size_t size, const char* text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text, std::min(size, std::strlen(text)));
}

CK_OBJECT_HANDLE newObjectHandle(const Step& step) {
    if (step.handle) return *step.handle;
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.nextObject++;
}

namespace entry {

CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    Call c("C_Initialize");
    InitArgs stored;
    if (pInitArgs == nullptr) {
        c.raw("pInitArgs", "null");
    } else {
        CK_C_INITIALIZE_ARGS a;
        std::memcpy(&a, pInitArgs, sizeof a);
        c.pointer("pInitArgs", pInitArgs);
        c.raw("CreateMutex", a.CreateMutex ? "set" : "null").raw("DestroyMutex", a.DestroyMutex ? "set" : "null");
        c.raw("LockMutex", a.LockMutex ? "set" : "null").raw("UnlockMutex", a.UnlockMutex ? "set" : "null");
        c.scalar("flags", a.flags).pointer("pReserved", a.pReserved);
        stored = InitArgs{a.CreateMutex, a.DestroyMutex, a.LockMutex, a.UnlockMutex};
    }
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.initArgs = stored;
    }
    return c.finish();
}

CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    Call c("C_Finalize");
    c.pointer("pReserved", pReserved);
    if (c.result() == CKR_OK) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.sessions.clear();
        s.pools.clear();
    }
    return c.finish();
}

CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    Call c("C_GetInfo");
    c.pointer("pInfo", pInfo).require(pInfo);
    CK_INFO info{};
    info.cryptokiVersion = CK_VERSION{2, 40};
    setText(info.manufacturerID, sizeof info.manufacturerID, "Vorlen test");
    info.flags = 0;
    setText(info.libraryDescription, sizeof info.libraryDescription, "Vorlen test module");
    info.libraryVersion = CK_VERSION{1, 0};
    c.outRecord(pInfo, RecordKind::Info, &info, sizeof info);
    return c.finish();
}

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    Call c("C_GetSlotList");
    c.scalar("tokenPresent", tokenPresent).pointer("pSlotList", pSlotList).inLen("pulCount", pulCount);
    c.require(pulCount);
    c.outList(pSlotList, pulCount, {1});
    return c.finish();
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    Call c("C_GetSlotInfo");
    c.scalar("slotID", slotID).pointer("pInfo", pInfo).require(pInfo);
    CK_SLOT_INFO info{};
    setText(info.slotDescription, sizeof info.slotDescription, "Vorlen test slot");
    setText(info.manufacturerID, sizeof info.manufacturerID, "Vorlen test");
    info.flags = CKF_TOKEN_PRESENT;
    info.hardwareVersion = CK_VERSION{1, 0};
    info.firmwareVersion = CK_VERSION{1, 1};
    c.outRecord(pInfo, RecordKind::SlotInfo, &info, sizeof info);
    return c.finish();
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    Call c("C_GetTokenInfo");
    c.scalar("slotID", slotID).pointer("pInfo", pInfo).require(pInfo);
    CK_TOKEN_INFO info{};
    setText(info.label, sizeof info.label, "Vorlen test token");
    setText(info.manufacturerID, sizeof info.manufacturerID, "Vorlen test");
    setText(info.model, sizeof info.model, "Test model");
    setText(info.serialNumber, sizeof info.serialNumber, "0000000000000001");
    info.flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    // Distinct numbers, so that a field read from the wrong place shows.
    info.ulMaxSessionCount = 10;
    info.ulSessionCount = 1;
    info.ulMaxRwSessionCount = 5;
    info.ulRwSessionCount = 0;
    info.ulMaxPinLen = 64;
    info.ulMinPinLen = 4;
    info.ulTotalPublicMemory = 1000;
    info.ulFreePublicMemory = 900;
    info.ulTotalPrivateMemory = 2000;
    info.ulFreePrivateMemory = 1800;
    info.hardwareVersion = CK_VERSION{2, 1};
    info.firmwareVersion = CK_VERSION{3, 2};
    setText(info.utcTime, sizeof info.utcTime, "2024010112000000");
    c.outRecord(pInfo, RecordKind::TokenInfo, &info, sizeof info);
    return c.finish();
}

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    Call c("C_GetMechanismList");
    c.scalar("slotID", slotID).pointer("pMechanismList", pMechanismList).inLen("pulCount", pulCount);
    c.require(pulCount);
    c.outList(pMechanismList, pulCount, {CKM_RSA_PKCS, CKM_SHA256});
    return c.finish();
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    Call c("C_GetMechanismInfo");
    c.scalar("slotID", slotID).scalar("type", type).pointer("pInfo", pInfo).require(pInfo);
    CK_MECHANISM_INFO info{};
    info.ulMinKeySize = 512;
    info.ulMaxKeySize = 4096;
    info.flags = CKF_SIGN | CKF_VERIFY;
    c.outRecord(pInfo, RecordKind::MechanismInfo, &info, sizeof info);
    return c.finish();
}

CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) {
    Call c("C_InitToken");
    // The label is a blank-padded field of 32 bytes: that is what is read.
    c.scalar("slotID", slotID).bytes("pPin", pPin, ulPinLen).scalar("ulPinLen", ulPinLen).bytes("pLabel", pLabel, 32);
    return c.finish();
}

CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    Call c("C_InitPIN");
    c.scalar("hSession", hSession).bytes("pPin", pPin, ulPinLen).scalar("ulPinLen", ulPinLen);
    c.notifySession(hSession);
    return c.finish();
}

CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
               CK_ULONG ulNewLen) {
    Call c("C_SetPIN");
    c.scalar("hSession", hSession).bytes("pOldPin", pOldPin, ulOldLen).scalar("ulOldLen", ulOldLen);
    c.bytes("pNewPin", pNewPin, ulNewLen).scalar("ulNewLen", ulNewLen);
    c.notifySession(hSession);
    return c.finish();
}

CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR pSlot, CK_VOID_PTR pReserved) {
    Call c("C_WaitForSlotEvent");
    c.scalar("flags", flags).pointer("pSlot", pSlot).pointer("pReserved", pReserved).require(pSlot);
    c.outHandle(pSlot, c.step().handle.value_or(1));
    return c.finish();
}

}  // namespace entry

namespace {

CK_FUNCTION_LIST functionList = {
    .version = {2, 40},
    .C_Initialize = entry::C_Initialize,
    .C_Finalize = entry::C_Finalize,
    .C_GetInfo = entry::C_GetInfo,
    .C_GetFunctionList = entry::C_GetFunctionList,
    .C_GetSlotList = entry::C_GetSlotList,
    .C_GetSlotInfo = entry::C_GetSlotInfo,
    .C_GetTokenInfo = entry::C_GetTokenInfo,
    .C_GetMechanismList = entry::C_GetMechanismList,
    .C_GetMechanismInfo = entry::C_GetMechanismInfo,
    .C_InitToken = entry::C_InitToken,
    .C_InitPIN = entry::C_InitPIN,
    .C_SetPIN = entry::C_SetPIN,
    .C_OpenSession = entry::C_OpenSession,
    .C_CloseSession = entry::C_CloseSession,
    .C_CloseAllSessions = entry::C_CloseAllSessions,
    .C_GetSessionInfo = entry::C_GetSessionInfo,
    .C_GetOperationState = entry::C_GetOperationState,
    .C_SetOperationState = entry::C_SetOperationState,
    .C_Login = entry::C_Login,
    .C_Logout = entry::C_Logout,
    .C_CreateObject = entry::C_CreateObject,
    .C_CopyObject = entry::C_CopyObject,
    .C_DestroyObject = entry::C_DestroyObject,
    .C_GetObjectSize = entry::C_GetObjectSize,
    .C_GetAttributeValue = entry::C_GetAttributeValue,
    .C_SetAttributeValue = entry::C_SetAttributeValue,
    .C_FindObjectsInit = entry::C_FindObjectsInit,
    .C_FindObjects = entry::C_FindObjects,
    .C_FindObjectsFinal = entry::C_FindObjectsFinal,
    .C_EncryptInit = entry::C_EncryptInit,
    .C_Encrypt = entry::C_Encrypt,
    .C_EncryptUpdate = entry::C_EncryptUpdate,
    .C_EncryptFinal = entry::C_EncryptFinal,
    .C_DecryptInit = entry::C_DecryptInit,
    .C_Decrypt = entry::C_Decrypt,
    .C_DecryptUpdate = entry::C_DecryptUpdate,
    .C_DecryptFinal = entry::C_DecryptFinal,
    .C_DigestInit = entry::C_DigestInit,
    .C_Digest = entry::C_Digest,
    .C_DigestUpdate = entry::C_DigestUpdate,
    .C_DigestKey = entry::C_DigestKey,
    .C_DigestFinal = entry::C_DigestFinal,
    .C_SignInit = entry::C_SignInit,
    .C_Sign = entry::C_Sign,
    .C_SignUpdate = entry::C_SignUpdate,
    .C_SignFinal = entry::C_SignFinal,
    .C_SignRecoverInit = entry::C_SignRecoverInit,
    .C_SignRecover = entry::C_SignRecover,
    .C_VerifyInit = entry::C_VerifyInit,
    .C_Verify = entry::C_Verify,
    .C_VerifyUpdate = entry::C_VerifyUpdate,
    .C_VerifyFinal = entry::C_VerifyFinal,
    .C_VerifyRecoverInit = entry::C_VerifyRecoverInit,
    .C_VerifyRecover = entry::C_VerifyRecover,
    .C_DigestEncryptUpdate = entry::C_DigestEncryptUpdate,
    .C_DecryptDigestUpdate = entry::C_DecryptDigestUpdate,
    .C_SignEncryptUpdate = entry::C_SignEncryptUpdate,
    .C_DecryptVerifyUpdate = entry::C_DecryptVerifyUpdate,
    .C_GenerateKey = entry::C_GenerateKey,
    .C_GenerateKeyPair = entry::C_GenerateKeyPair,
    .C_WrapKey = entry::C_WrapKey,
    .C_UnwrapKey = entry::C_UnwrapKey,
    .C_DeriveKey = entry::C_DeriveKey,
    .C_SeedRandom = entry::C_SeedRandom,
    .C_GenerateRandom = entry::C_GenerateRandom,
    .C_GetFunctionStatus = entry::C_GetFunctionStatus,
    .C_CancelFunction = entry::C_CancelFunction,
    .C_WaitForSlotEvent = entry::C_WaitForSlotEvent,
};

}  // namespace

CK_RV entry::C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    Call c("C_GetFunctionList");
    c.pointer("ppFunctionList", ppFunctionList).require(ppFunctionList);
    if (c.writes()) *ppFunctionList = c.step().nullList ? nullptr : &functionList;
    return c.finish();
}

}  // namespace vtm

VTM_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return vtm::entry::C_GetFunctionList(ppFunctionList);
}
