// Classes and members the callbacks call, cached so that module threads never need FindClass.
#pragma once

#include <jni.h>

#include "core/jni_cache.h"

namespace vorlen::jni {

struct CallbackCache {
    jclass initArgs;
    jfieldID initArgsCreateMutex, initArgsDestroyMutex, initArgsLockMutex, initArgsUnlockMutex,
        initArgsFlags, initArgsReserved;
    jclass createMutex, destroyMutex, lockMutex, unlockMutex;
    jmethodID createMutexMethod;   // "CK_CREATEMUTEX" "()Ljava/lang/Object;"
    jmethodID destroyMutexMethod;  // "CK_DESTROYMUTEX" "(Ljava/lang/Object;)V"
    jmethodID lockMutexMethod;     // "CK_LOCKMUTEX" "(Ljava/lang/Object;)V"
    jmethodID unlockMutexMethod;   // "CK_UNLOCKMUTEX" "(Ljava/lang/Object;)V"
    jclass notify;
    jmethodID notifyMethod;        // "CK_NOTIFY" "(JJLjava/lang/Object;)V"
};

extern CallbackCache callbacks;

/// Loads the callbacks' cache (called once, by the top of the library).
void loadCallbackCache(Loader& loader);

}  // namespace vorlen::jni

namespace vorlen {

/// Releases what the callbacks keep for the sessions of a module that the library no longer
/// loads (it can no longer call back). The top of the library registers it with the core.
void releaseModuleState(JNIEnv* env, const void* module);

/// Drops the state that outlives single calls when the library is finalised (saved
/// initialization arguments; notification bookkeeping stays, see callback_state.cpp).
void finalizeCallbackState(JNIEnv* env);

}  // namespace vorlen
