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

}  // namespace vorlen::jni
