// The initialization arguments of C_Initialize and the four mutex callbacks behind them.
#pragma once

#include <jni.h>

#include "convert/convert.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

/// A native CK_C_INITIALIZE_ARGS converted from Java, with its converted "pReserved" value.
struct NativeInitArgs {
    CK_C_INITIALIZE_ARGS args{};
    NativeBuffer reserved;
};

/// Converts the Java CK_C_INITIALIZE_ARGS. Each Java callback object that is set gives the
/// matching native callback; when at least one is set, the object becomes savedInitArgs, the
/// arguments that every mutex callback reads its Java objects from. Returns false with an
/// exception pending when "pReserved" cannot be converted (savedInitArgs is then unchanged).
bool toCkInitializeArgs(JNIEnv* env, jobject javaArgs, NativeInitArgs& out);

/// Drops savedInitArgs (callbacks running now keep the object they took until they return).
void clearSavedInitArgs(JNIEnv* env);

CK_RV PKCS11_CALL createMutexCallback(CK_VOID_PTR_PTR ppMutex);
CK_RV PKCS11_CALL destroyMutexCallback(CK_VOID_PTR pMutex);
CK_RV PKCS11_CALL lockMutexCallback(CK_VOID_PTR pMutex);
CK_RV PKCS11_CALL unlockMutexCallback(CK_VOID_PTR pMutex);

}  // namespace vorlen
