// Session and login functions.
#include <jni.h>

#include <utility>

#include "callbacks/notify.h"
#include "convert/convert.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {

// The binding made for one C_OpenSession: released at the end of the call unless it was
// handed to NotifyList.
class PendingBinding {
public:
    explicit PendingBinding(JNIEnv* env) : env_(env) {}
    PendingBinding(const PendingBinding&) = delete;
    PendingBinding& operator=(const PendingBinding&) = delete;
    ~PendingBinding() { releaseNotifyBinding(env_, binding_); }

    bool make(jobject notify, jobject application) {
        binding_ = newNotifyBinding(env_, notify, application);
        return binding_ != nullptr;
    }
    NotifyBinding* get() const { return binding_; }
    NotifyBinding* release() { return std::exchange(binding_, nullptr); }

private:
    JNIEnv* env_;
    NotifyBinding* binding_ = nullptr;
};

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1OpenSession)(JNIEnv* env, jobject self, jlong slotID,
                                                       jlong flags, jobject pApplication,
                                                       jobject Notify) {
    ModuleCall module(env, self);
    if (!module) {
        return 0;
    }
    // Without a Notify the application object is not passed on at all.
    PendingBinding binding(env);
    if (Notify != nullptr && !binding.make(Notify, pApplication)) {
        return 0;
    }
    const CK_SLOT_ID slot = ckULong(slotID);
    CK_SESSION_HANDLE session = 0;
    // The module may notify through the binding already during this call.
    NotifyBinding* notify = binding.get();
    const CK_RV rv = module->C_OpenSession(slot, ckULong(flags),
                                           notify != nullptr ? notifyToken(notify) : nullptr,
                                           notify != nullptr ? notifyCallback : nullptr, &session);
    // The binding follows the module's answer alone: an Error a callback threw during the call
    // (see checkReturnValue) does not undo a session that the module opened.
    if (rv == CKR_OK) {
        putNotify(module.module(), slot, session, binding.release());
    }  // otherwise the binding is released: the module opened no session with it
    return succeeded(env, rv) ? javaLong(session) : 0;
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1CloseSession)(JNIEnv* env, jobject self, jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    const std::uint64_t mark = notifyListMark();
    const CK_RV rv = module->C_CloseSession(session);
    if (rv == CKR_OK) {  // otherwise the session stays open, and so does its binding
        while (NotifyBinding* binding = removeNotify(module.module(), session, mark)) {
            releaseNotifyBinding(env, binding);
        }
    }
    checkReturnValue(env, rv);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1CloseAllSessions)(JNIEnv* env, jobject self,
                                                           jlong slotID) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    const CK_SLOT_ID slot = ckULong(slotID);
    const std::uint64_t mark = notifyListMark();
    const CK_RV rv = module->C_CloseAllSessions(slot);
    if (rv == CKR_OK) {
        // Only this module's sessions on this slot are closed; other slots and modules keep
        // theirs.
        while (NotifyBinding* binding = popNotify(module.module(), slot, mark)) {
            releaseNotifyBinding(env, binding);
        }
    }
    checkReturnValue(env, rv);
}

JNIEXPORT jobject JNICALL VORLEN_WRAPPER(C_1GetSessionInfo)(JNIEnv* env, jobject self,
                                                            jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    return queryRecord<CK_SESSION_INFO>(
        env,
        [&](CK_SESSION_INFO* info) { return module->C_GetSessionInfo(ckULong(hSession), info); },
        toJavaSessionInfo);
}

JNIEXPORT jbyteArray JNICALL VORLEN_WRAPPER(C_1GetOperationState)(JNIEnv* env, jobject self,
                                                                  jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    const CK_SESSION_HANDLE session = ckULong(hSession);
    return queryBytes(env, "C_GetOperationState", [&](CK_BYTE_PTR state, CK_ULONG_PTR length) {
        return module->C_GetOperationState(session, state, length);
    });
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SetOperationState)(JNIEnv* env, jobject self,
                                                            jlong hSession,
                                                            jcharArray pOperationState,
                                                            jlong hEncryptionKey,
                                                            jlong hAuthenticationKey) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    // A saved state comes back as one char per byte: the low 8 bits are the byte.
    NativeBuffer state;
    if (!toCkCharArray(env, pOperationState, state)) {
        return;
    }
    checkReturnValue(env, module->C_SetOperationState(ckULong(hSession), state.bytes(),
                                                      state.count(), ckULong(hEncryptionKey),
                                                      ckULong(hAuthenticationKey)));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1Login)(JNIEnv* env, jobject self, jlong hSession,
                                                jlong userType, jcharArray pPin) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    // A null PIN gives a null pointer and length 0: the protected authentication path.
    NativeBuffer pin;
    if (!toCkCharArray(env, pPin, pin)) {
        return;
    }
    checkReturnValue(env, module->C_Login(ckULong(hSession), ckULong(userType), pin.bytes(),
                                          pin.count()));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1Logout)(JNIEnv* env, jobject self, jlong hSession) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    checkReturnValue(env, module->C_Logout(ckULong(hSession)));
}

}  // extern "C"
