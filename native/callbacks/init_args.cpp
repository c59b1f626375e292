#include "callbacks/init_args.h"

#include <memory>
#include <mutex>

#include "callbacks/callback_cache.h"
#include "callbacks/callback_env.h"
#include "core/jni_cache.h"
#include "core/jni_util.h"

namespace vorlen {

namespace {

// The global reference of savedInitArgs, deleted when the last user lets go of it: a later
// C_Initialize or finalizeLibrary never pulls it from under a callback that is running.
struct SavedArgs {
    explicit SavedArgs(jobject globalRef) : ref(globalRef) {}
    SavedArgs(const SavedArgs&) = delete;
    SavedArgs& operator=(const SavedArgs&) = delete;
    jobject ref;
    ~SavedArgs() {
        JavaVM* vm = jni::javaVM();  // set when the library was loaded
        void* env = nullptr;
        if (vm->GetEnv(&env, JNI_VERSION_1_2) == JNI_OK) {
            deleteGlobalRef(static_cast<JNIEnv*>(env), ref);
        }
    }
};

std::mutex savedLock;  // guards the pointer only, for a copy
std::shared_ptr<SavedArgs> saved;

std::shared_ptr<SavedArgs> currentArgs() {
    std::lock_guard<std::mutex> guard(savedLock);
    return saved;
}

void replaceArgs(std::shared_ptr<SavedArgs> next) {
    std::shared_ptr<SavedArgs> previous;
    {
        std::lock_guard<std::mutex> guard(savedLock);
        previous = std::move(saved);
        saved = std::move(next);
    }
    // `previous` is released here, outside the lock (its global reference may be deleted).
}

// The Java callback object of `field` in savedInitArgs, as a local reference of the callback's
// frame; null when there is none (no arguments saved, or the field was cleared since).
jobject callbackObject(JNIEnv* env, jfieldID field, std::shared_ptr<SavedArgs>& holder) {
    holder = currentArgs();
    if (!holder) {
        return nullptr;
    }
    return env->GetObjectField(holder->ref, field);
}

// destroy, lock and unlock share one shape: call the Java method with the mutex object.
CK_RV callWithMutex(CK_VOID_PTR pMutex, jfieldID field, jmethodID method, bool deleteHandle) {
    if (pMutex == nullptr) {
        return CKR_MUTEX_BAD;
    }
    CallbackEnv callback;
    if (!callback) {
        return kCallbackUnreachable;
    }
    JNIEnv* env = callback.env();
    auto mutex = static_cast<jobject>(pMutex);
    std::shared_ptr<SavedArgs> holder;
    jobject target = callbackObject(env, field, holder);
    CK_RV rv = kCallbackUnreachable;
    if (target != nullptr) {
        env->CallVoidMethod(target, method, mutex);
        rv = callback.pendingErrorCode();
    }
    if (deleteHandle) {
        deleteGlobalRef(env, mutex);  // also when the Java method threw
    }
    return rv;
}

}  // namespace

bool toCkInitializeArgs(JNIEnv* env, jobject javaArgs, NativeInitArgs& out) {
    const auto& c = jni::callbacks;
    out = NativeInitArgs{};
    if (javaArgs == nullptr) {
        return true;
    }
    // The Java parameter is declared as Object: anything else is refused before its fields are
    // read.
    if (!env->IsInstanceOf(javaArgs, c.initArgs)) {
        throwCannotConvert(env, javaArgs);
        return false;
    }
    CK_C_INITIALIZE_ARGS& args = out.args;
    auto isSet = [&](jfieldID field) {
        LocalRef<jobject> value(env, env->GetObjectField(javaArgs, field));
        return static_cast<bool>(value);
    };
    args.CreateMutex = isSet(c.initArgsCreateMutex) ? createMutexCallback : nullptr;
    args.DestroyMutex = isSet(c.initArgsDestroyMutex) ? destroyMutexCallback : nullptr;
    args.LockMutex = isSet(c.initArgsLockMutex) ? lockMutexCallback : nullptr;
    args.UnlockMutex = isSet(c.initArgsUnlockMutex) ? unlockMutexCallback : nullptr;
    args.flags = ckULong(env->GetLongField(javaArgs, c.initArgsFlags));
    LocalRef<jobject> reserved(env, env->GetObjectField(javaArgs, c.initArgsReserved));
    if (!toCkValue(env, reserved.get(), out.reserved)) {
        return false;
    }
    args.pReserved = out.reserved.get();
    if (args.CreateMutex != nullptr || args.DestroyMutex != nullptr || args.LockMutex != nullptr ||
        args.UnlockMutex != nullptr) {
        jobject ref = newGlobalRef(env, javaArgs);
        if (ref == nullptr) {
            return false;
        }
        std::shared_ptr<SavedArgs> next;
        try {
            next = std::make_shared<SavedArgs>(ref);
        } catch (const std::bad_alloc&) {
            deleteGlobalRef(env, ref);
            throwOutOfMemory(env, "no room for the initialization arguments");
            return false;
        }
        replaceArgs(std::move(next));
    }
    return true;
}

void clearSavedInitArgs(JNIEnv*) { replaceArgs(nullptr); }

CK_RV PKCS11_CALL createMutexCallback(CK_VOID_PTR_PTR ppMutex) {
    if (ppMutex == nullptr) {
        return CKR_ARGUMENTS_BAD;
    }
    *ppMutex = nullptr;
    CallbackEnv callback;
    if (!callback) {
        return kCallbackUnreachable;
    }
    JNIEnv* env = callback.env();
    const auto& c = jni::callbacks;
    std::shared_ptr<SavedArgs> holder;
    jobject target = callbackObject(env, c.initArgsCreateMutex, holder);
    if (target == nullptr) {
        return kCallbackUnreachable;
    }
    jobject mutex = env->CallObjectMethod(target, c.createMutexMethod);
    const CK_RV rv = callback.pendingErrorCode();
    if (rv != CKR_OK) {
        return rv;
    }
    if (mutex == nullptr) {
        return CKR_GENERAL_ERROR;  // no object to lock: the module gets no handle
    }
    jobject handle = newGlobalRef(env, mutex);
    if (handle == nullptr) {
        env->ExceptionClear();
        return CKR_HOST_MEMORY;
    }
    *ppMutex = handle;
    return CKR_OK;
}

CK_RV PKCS11_CALL destroyMutexCallback(CK_VOID_PTR pMutex) {
    return callWithMutex(pMutex, jni::callbacks.initArgsDestroyMutex,
                         jni::callbacks.destroyMutexMethod, true);
}

CK_RV PKCS11_CALL lockMutexCallback(CK_VOID_PTR pMutex) {
    return callWithMutex(pMutex, jni::callbacks.initArgsLockMutex, jni::callbacks.lockMutexMethod,
                         false);
}

CK_RV PKCS11_CALL unlockMutexCallback(CK_VOID_PTR pMutex) {
    return callWithMutex(pMutex, jni::callbacks.initArgsUnlockMutex,
                         jni::callbacks.unlockMutexMethod, false);
}

}  // namespace vorlen
