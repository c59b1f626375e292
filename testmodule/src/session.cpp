// Session and login entries. C_OpenSession stores each session with its
// pApplication and Notify, so that later steps can notify it.
#include "entries.hpp"

namespace vtm {

namespace {

/// The stored session `h`, if any.
std::optional<Session> findSession(CK_SESSION_HANDLE h) {
    return withState([&](State& s) -> std::optional<Session> {
        const auto it = s.sessions.find(h);
        if (it == s.sessions.end()) return std::nullopt;
        return it->second;
    });
}

}  // namespace

namespace entry {

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_NOTIFY Notify,
                    CK_SESSION_HANDLE_PTR phSession) {
    Call c("C_OpenSession");
    c.scalar("slotID", slotID).scalar("flags", flags).pointer("pApplication", pApplication);
    c.raw("Notify", Notify ? "ptr" : "null").pointer("phSession", phSession).require(phSession);
    const Session session{slotID, flags, pApplication, Notify};
    const CK_SESSION_HANDLE handle = withState([&](State& s) {
        const CK_SESSION_HANDLE h = c.step().handle ? *c.step().handle : s.nextSession++;
        if (c.result() == CKR_OK) s.sessions[h] = session;
        return h;
    });
    c.outHandle(phSession, handle);
    c.notifyWith(handle, session);  // the session may be notified before the call returns
    return c.finish();
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    Call c("C_CloseSession");
    c.scalar("hSession", hSession);
    if (std::optional<Session> session = findSession(hSession)) c.notifyWith(hSession, *session);
    if (c.result() == CKR_OK) withState([&](State& s) {
        if (const auto it = s.sessions.find(hSession); it != s.sessions.end()) {
            s.closed[hSession] = it->second;
            s.sessions.erase(it);
        }
        s.pools.erase(hSession);
    });
    return c.finish();
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    Call c("C_CloseAllSessions");
    c.scalar("slotID", slotID);
    if (c.result() == CKR_OK) withState([&](State& s) {
        std::erase_if(s.sessions, [&](const auto& entry) {
            if (entry.second.slot != slotID) return false;
            s.pools.erase(entry.first);
            return true;
        });
    });
    return c.finish();
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    Call c("C_GetSessionInfo", hSession);
    c.pointer("pInfo", pInfo).require(pInfo);
    const Session session = findSession(hSession).value_or(Session{1, CKF_SERIAL_SESSION, nullptr, nullptr});
    CK_SESSION_INFO info{};
    info.slotID = session.slot;
    info.state = (session.flags & CKF_RW_SESSION) ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    info.flags = session.flags;
    info.ulDeviceError = 0;
    c.outRecord(pInfo, RecordKind::SessionInfo, &info, sizeof info);
    return c.finish();
}

CK_RV C_GetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState,
                          CK_ULONG_PTR pulOperationStateLen) {
    Call c("C_GetOperationState", hSession);
    c.pointer("pOperationState", pOperationState);
    c.inLen("pulOperationStateLen", pulOperationStateLen).require(pulOperationStateLen);
    c.outBytes(pOperationState, pulOperationStateLen, pattern(16));
    return c.finish();
}

CK_RV C_SetOperationState(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pOperationState, CK_ULONG ulOperationStateLen,
                          CK_OBJECT_HANDLE hEncryptionKey, CK_OBJECT_HANDLE hAuthenticationKey) {
    Call c("C_SetOperationState", hSession);
    c.bytes("pOperationState", pOperationState, ulOperationStateLen);
    c.scalar("ulOperationStateLen", ulOperationStateLen).scalar("hEncryptionKey", hEncryptionKey);
    c.scalar("hAuthenticationKey", hAuthenticationKey);
    return c.finish();
}

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    Call c("C_Login", hSession);
    c.scalar("userType", userType).bytes("pPin", pPin, ulPinLen);
    c.scalar("ulPinLen", ulPinLen);
    return c.finish();
}

VTM_SESSION_ONLY(C_Logout)

}  // namespace entry

}  // namespace vtm
