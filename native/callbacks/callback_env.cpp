#include "callbacks/callback_env.h"

#include "core/exceptions.h"
#include "core/jni_cache.h"

namespace vorlen {

// The VM and the caches are there: the module was connected by a native method of the library,
// which runs only after initializeLibrary succeeded (JNI_OnLoad has set the VM before that).
CallbackEnv::CallbackEnv() : vm_(jni::javaVM()) {
    callbackRanHere = true;  // the call that the module made this callback in checks for an exception
    void* env = nullptr;
    if (vm_->GetEnv(&env, JNI_VERSION_1_2) == JNI_OK) {
        env_ = static_cast<JNIEnv*>(env);
    } else {
        // JNI_EDETACHED: a thread of the module's own (1.2 is a version every VM has).
        if (vm_->AttachCurrentThread(&env, nullptr) != JNI_OK) {
            return;
        }
        env_ = static_cast<JNIEnv*>(env);
        attached_ = true;
    }
    // A callback during a Java call may find an exception of an earlier callback pending; the
    // Java call below must not run with it, so it is held and raised again afterwards.
    if (env_->ExceptionCheck()) {
        earlier_.hold(env_);
    }
    // Local references die with the frame, also on module threads that stay attached.
    framePushed_ = env_->PushLocalFrame(16) == 0;
    if (!framePushed_) {
        earlier_.hold(env_);  // the VM's OutOfMemoryError, after the earlier failure
        if (attached_) {
            earlier_.drop();
            vm_->DetachCurrentThread();  // nobody on the module's own thread receives it
        } else {
            earlier_.raise();  // the Java caller sees it
        }
        env_ = nullptr;
        attached_ = false;
    }
}

CK_RV CallbackEnv::pendingErrorCode() {
    if (!env_->ExceptionCheck()) {  // only called on a CallbackEnv that has a JNIEnv
        return CKR_OK;
    }
    // JNI allows no method call with an exception pending: take it, ask it, raise it again.
    jthrowable thrown = env_->ExceptionOccurred();
    env_->ExceptionClear();
    CK_RV rv = CKR_GENERAL_ERROR;
    if (env_->IsInstanceOf(thrown, jni::core.pkcs11Exception)) {
        const jlong code = env_->CallLongMethod(thrown, jni::core.pkcs11ExceptionGetErrorCode);
        if (env_->ExceptionCheck()) {
            env_->ExceptionClear();  // an overriding getErrorCode that throws
        } else {
            rv = static_cast<CK_RV>(code);
        }
    }
    // A callback that threw never answers success: not with PKCS11Exception(0), nor with a code
    // whose bits that fit a CK_ULONG are all 0.
    if (rv == CKR_OK) {
        rv = CKR_GENERAL_ERROR;
    }
    env_->Throw(thrown);
    env_->DeleteLocalRef(thrown);
    return rv;
}

CallbackEnv::~CallbackEnv() {
    callbackRanHere = true;  // again: a library call made by the callback's Java code cleared it
    if (env_ == nullptr) {
        return;
    }
    // The exception of this callback leaves the frame with PopLocalFrame's result.
    jthrowable thrown = nullptr;
    if (env_->ExceptionCheck()) {
        thrown = env_->ExceptionOccurred();
        env_->ExceptionClear();
    }
    if (framePushed_) {
        thrown = static_cast<jthrowable>(env_->PopLocalFrame(thrown));
    }
    if (attached_) {
        // Nobody on a thread of the module's own can receive an exception.
        if (thrown != nullptr) {
            env_->DeleteLocalRef(thrown);
        }
        earlier_.drop();
        vm_->DetachCurrentThread();
        return;
    }
    // The earlier failure and this callback's, by the one rule: the first is what the Java caller
    // sees (as the cause of the module's error), unless this callback threw an Error where the
    // first one was an Exception.
    if (thrown != nullptr) {
        env_->Throw(thrown);
        env_->DeleteLocalRef(thrown);
    }
    earlier_.raise();
}

}  // namespace vorlen
