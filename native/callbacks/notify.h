// Session notifications: the Java objects a session was opened with, the list that finds them
// again when sessions are closed, and the native CK_NOTIFY the module calls.
//
// A NotifyBinding is what the module receives as pApplication; notifyCallback reaches the Java
// objects through it alone. NotifyList records, for each open session that has a binding, the
// module and slot it belongs to, so that closing sessions releases exactly the bindings of the
// sessions the module closed. A binding is released only after the module has confirmed the
// close (or has been unloaded), so the module never notifies through a released binding.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "pkcs11/pkcs11.h"

namespace vorlen {

/// The Java objects of one session's notifications. Bindings live in a table whose memory is
/// never returned: a binding is recycled, not freed. The module receives as pApplication not
/// the binding's address but its token: a number counted up for every session that gets a
/// binding, as wide as a pointer, looked up among the tokens of the live bindings. A module
/// that notifies a session after the library released its binding (a module fault, or a late
/// notification racing the close) presents a token that is no longer live, and the
/// notification is dropped: it never reaches the CK_NOTIFY of another session, not even while
/// that session's C_OpenSession is still running, since a token comes round again only after
/// 2^32 sessions with notifications at 32 bits (2^64 at 64). The binding is also the session's
/// NotifyList entry, so that recording an opened session cannot fail.
struct NotifyBinding {
    // dying | live | notifications running (low 32 bits); see notify.cpp
    std::atomic<std::uint64_t> state{0};
    std::uintptr_t token = 0;  // what the module received as pApplication (notifyListLock)
    jobject notify = nullptr;       // global reference to the Java CK_NOTIFY (never null)
    jobject application = nullptr;  // global reference to the application object, or null

    // Set by putNotify: the session the binding serves.
    const void* module = nullptr;       // ModuleCall::module() of the module that opened it
    CK_SLOT_ID slot = 0;                // the slot given to C_OpenSession
    std::atomic<CK_SESSION_HANDLE> session{0};  // the handle the module returned
    std::atomic<bool> sessionKnown{false};      // false while C_OpenSession runs
    std::uint64_t sequence = 0;         // when it entered the list (see notifyListMark)
    NotifyBinding* next = nullptr;      // NotifyList
    std::uint32_t index = 0;            // place in the table
};

/// Makes a binding with global references to `notify` (not null) and `application` (may be
/// null). Returns null with OutOfMemoryError pending when memory or references run out.
NotifyBinding* newNotifyBinding(JNIEnv* env, jobject notify, jobject application);

/// What the module receives as pApplication for a live binding: its token (never null).
CK_VOID_PTR notifyToken(const NotifyBinding* binding);

/// Deletes the binding's global references and recycles it; when a notification is running
/// through it right now, that notification does so when it returns. Null is ignored.
void releaseNotifyBinding(JNIEnv* env, NotifyBinding* binding);

/// Records the binding of a session that `module` opened on `slot`. A null binding adds
/// nothing. Never fails: the binding is its own list entry.
void putNotify(const void* module, CK_SLOT_ID slot, CK_SESSION_HANDLE session,
               NotifyBinding* binding);

/// The position of the list now. A wrapper takes it before it asks the module to close
/// sessions, and afterwards takes out only entries recorded before it: a session that another
/// thread opened while the close ran (perhaps under a handle just freed) keeps its binding.
std::uint64_t notifyListMark();

/// Takes out one entry of `module` with handle `session` recorded before `mark`; null when
/// there is none left. Call it until null after a successful C_CloseSession: besides the
/// closed session's entry, there may be entries of earlier sessions with the same handle that
/// the module closed by other means (C_Finalize), and those are over too.
NotifyBinding* removeNotify(const void* module, CK_SESSION_HANDLE session, std::uint64_t mark);

/// Takes out one entry of `module` on `slot` recorded before `mark`; null when there is none
/// left. Call it until null after a successful C_CloseAllSessions.
NotifyBinding* popNotify(const void* module, CK_SLOT_ID slot, std::uint64_t mark);

/// Takes out one entry of `module`, whatever its slot, recorded before `mark`; null when there
/// is none left. Call it until null after a successful C_Finalize, which ends every session.
NotifyBinding* popNotify(const void* module, std::uint64_t mark);

/// Takes out one entry of `module`, whatever its slot; null when there is none left. Used when
/// the module has been unloaded and can no longer notify.
NotifyBinding* popNotify(const void* module);

/// The native CK_NOTIFY: calls the Java CK_NOTIFY of the binding whose token is pApplication,
/// with the handle and the event zero-extended and the application object. Returns CKR_OK,
/// the error code of a PKCS11Exception the Java method threw (CKR_GENERAL_ERROR for another
/// throwable, and for a code that would read CKR_OK), CKR_OK without calling Java for a null
/// pApplication or a stale token, CKR_ARGUMENTS_BAD for a pApplication above every token given
/// out, and
/// kCallbackUnreachable when Java cannot be reached.
CK_RV PKCS11_CALL notifyCallback(CK_SESSION_HANDLE hSession, CK_NOTIFICATION event,
                                 CK_VOID_PTR pApplication);

}  // namespace vorlen
