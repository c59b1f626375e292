// General-purpose, slot and token entries, and the function list.
#include "entries.hpp"

#include <algorithm>
#include <cstring>
#include <string>

namespace vtm {

void setText(CK_UTF8CHAR* field, std::size_t size, const char* text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text, std::min(size, std::strlen(text)));
}

CK_OBJECT_HANDLE newObjectHandle(const Step& step) {
    return step.handle ? *step.handle : withState([](State& s) { return s.nextObject++; });
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
    withState([&](State& s) { s.initArgs = stored; });
    return c.finish();
}

CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    Call c("C_Finalize");
    c.pointer("pReserved", pReserved);
    if (c.result() == CKR_OK) withState([](State& s) {
        s.sessions.clear();
        s.pools.clear();
    });
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
    Call c("C_InitPIN", hSession);
    c.bytes("pPin", pPin, ulPinLen).scalar("ulPinLen", ulPinLen);
    return c.finish();
}

CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
               CK_ULONG ulNewLen) {
    Call c("C_SetPIN", hSession);
    c.bytes("pOldPin", pOldPin, ulOldLen).scalar("ulOldLen", ulOldLen);
    c.bytes("pNewPin", pNewPin, ulNewLen).scalar("ulNewLen", ulNewLen);
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

// Every entry of the 2.x list, from the function list's rows.
#define VTM_LIST_ENTRY(name, major, minor, arguments) PKCS11_IN_2X(major, minor, .name = entry::name, )
const CK_FUNCTION_LIST functionList = {.version = {2, 40}, PKCS11_FUNCTIONS(VTM_LIST_ENTRY)};
#undef VTM_LIST_ENTRY

// The list handed out instead when a step names entries to leave NULL; the
// caller copies or uses it before asking for another.
CK_FUNCTION_LIST listWithHoles;

// Sets the entry `name` of `list` to NULL; false when the list has no such entry.
bool clearEntry(CK_FUNCTION_LIST& list, const std::string& name) {
#define VTM_CLEAR_ENTRY(entryName, major, minor, arguments) \
    PKCS11_IN_2X(major, minor, if (name == #entryName) { list.entryName = nullptr; return true; })
    PKCS11_FUNCTIONS(VTM_CLEAR_ENTRY)
#undef VTM_CLEAR_ENTRY
    return false;
}

}  // namespace

CK_RV entry::C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    Call c("C_GetFunctionList");
    c.pointer("ppFunctionList", ppFunctionList).require(ppFunctionList);
    if (c.writes()) {
        if (c.step().nullList) {
            *ppFunctionList = nullptr;
        } else if (c.step().nullEntries.empty()) {
            *ppFunctionList = const_cast<CK_FUNCTION_LIST_PTR>(&functionList);
        } else {
            listWithHoles = functionList;
            for (const std::string& name : c.step().nullEntries) clearEntry(listWithHoles, name);
            *ppFunctionList = &listWithHoles;
        }
    }
    return c.finish();
}

}  // namespace vtm

VTM_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) {
    return vtm::entry::C_GetFunctionList(ppFunctionList);
}
