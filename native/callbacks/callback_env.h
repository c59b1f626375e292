// The steps every callback from a module shares: find the thread's JNIEnv (attaching a thread
// the module created), keep an exception that is already pending out of the way of the Java
// call, read the error code of the exception the Java call threw, and give the thread back.
#pragma once

#include <jni.h>

#include "core/jni_util.h"
#include "core/modules.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

/// The CK_RV a callback returns when it cannot reach Java (no VM, attach failed, nothing to
/// call): never CKR_OK, so the module does not take a callback that did not run for success.
constexpr CK_RV kCallbackUnreachable = CKR_GENERAL_ERROR;

/// acquireCallbackEnv at construction, releaseCallbackEnv at destruction.
class CallbackEnv {
public:
    CallbackEnv();
    CallbackEnv(const CallbackEnv&) = delete;
    CallbackEnv& operator=(const CallbackEnv&) = delete;
    ~CallbackEnv();

    explicit operator bool() const { return env_ != nullptr; }
    JNIEnv* env() const { return env_; }
    bool attachedHere() const { return attached_; }

    /// CKR_OK when the Java call threw nothing; otherwise the thrown PKCS11Exception's
    /// "getErrorCode" (CKR_GENERAL_ERROR for any other throwable, and for a code that would
    /// read CKR_OK: a callback that threw never answers success). The exception stays pending.
    CK_RV pendingErrorCode();

private:
    ModuleHold hold_;  // first in, last out: no module is unloaded while the callback runs
    JavaVM* vm_ = nullptr;
    JNIEnv* env_ = nullptr;
    bool attached_ = false;
    bool framePushed_ = false;
    HeldException earlier_;  // an exception that was pending when the callback began
};

}  // namespace vorlen
