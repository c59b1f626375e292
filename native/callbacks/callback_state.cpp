// State that the callbacks keep beyond single calls, and the cache they read.
#include <jni.h>

#include "callbacks/callback_cache.h"
#include "callbacks/init_args.h"
#include "callbacks/notify.h"

namespace vorlen {

namespace jni {

CallbackCache callbacks{};

#define VORLEN_API "zandrop/tesk/pkcs11/vorlen/api/"

void loadCallbackCache(Loader& l) {
    CallbackCache& c = callbacks;
    c.initArgs = l.cls(VORLEN_API "CK_C_INITIALIZE_ARGS");
    c.initArgsCreateMutex = l.field(c.initArgs, "CreateMutex", "L" VORLEN_API "CK_CREATEMUTEX;");
    c.initArgsDestroyMutex = l.field(c.initArgs, "DestroyMutex", "L" VORLEN_API "CK_DESTROYMUTEX;");
    c.initArgsLockMutex = l.field(c.initArgs, "LockMutex", "L" VORLEN_API "CK_LOCKMUTEX;");
    c.initArgsUnlockMutex = l.field(c.initArgs, "UnlockMutex", "L" VORLEN_API "CK_UNLOCKMUTEX;");
    c.initArgsFlags = l.field(c.initArgs, "flags", "J");
    c.initArgsReserved = l.field(c.initArgs, "pReserved", "Ljava/lang/Object;");
    c.createMutex = l.cls(VORLEN_API "CK_CREATEMUTEX");
    c.createMutexMethod = l.method(c.createMutex, "CK_CREATEMUTEX", "()Ljava/lang/Object;");
    c.destroyMutex = l.cls(VORLEN_API "CK_DESTROYMUTEX");
    c.destroyMutexMethod = l.method(c.destroyMutex, "CK_DESTROYMUTEX", "(Ljava/lang/Object;)V");
    c.lockMutex = l.cls(VORLEN_API "CK_LOCKMUTEX");
    c.lockMutexMethod = l.method(c.lockMutex, "CK_LOCKMUTEX", "(Ljava/lang/Object;)V");
    c.unlockMutex = l.cls(VORLEN_API "CK_UNLOCKMUTEX");
    c.unlockMutexMethod = l.method(c.unlockMutex, "CK_UNLOCKMUTEX", "(Ljava/lang/Object;)V");
    c.notify = l.cls(VORLEN_API "CK_NOTIFY");
    c.notifyMethod = l.method(c.notify, "CK_NOTIFY", "(JJLjava/lang/Object;)V");
}

}  // namespace jni

// The module is no longer loaded by the library: it cannot notify any session again, so the
// bindings of its sessions that were never closed through the library are released now.
void releaseModuleState(JNIEnv* env, const void* module) {
    while (NotifyBinding* binding = popNotify(module)) {
        releaseNotifyBinding(env, binding);
    }
}

// The notification bindings stay in NotifyList: finalizing the library unloads no module, and
// a module that is still loaded may notify its open sessions at any time. They are released
// when their module is finally unloaded (releaseModuleState), finalized (C_Finalize), or when
// their sessions are closed through a later binding of the same module, since entries are
// matched by module, not by the PKCS11Impl object that opened the session.
void finalizeCallbackState(JNIEnv* env) { clearSavedInitArgs(env); }

}  // namespace vorlen
