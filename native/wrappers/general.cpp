// General-purpose, slot and token functions.
#include <jni.h>

#include <cstring>

#include "callbacks/init_args.h"
#include "callbacks/notify.h"
#include "convert/convert.h"
#include "wrappers/call_shapes.h"

using namespace vorlen;

#define VORLEN_WRAPPER(name) Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_##name

namespace {
// The standard's token labels are 32 characters, blank-padded.
constexpr CK_ULONG kLabelLength = 32;
}  // namespace

extern "C" {

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1Initialize)(JNIEnv* env, jobject self, jobject pInitArgs) {
    // Alone on the module: until it has returned the module is not initialised for any call.
    ModuleCall module(env, self, CallKind::exclusive);
    if (!module) {
        return;
    }
    NativeInitArgs args;
    if (!toCkInitializeArgs(env, pInitArgs, args)) {
        return;
    }
    const CK_RV rv = module->C_Initialize(pInitArgs != nullptr ? &args.args : nullptr);
    if (rv == CKR_OK) {
        // The module may keep pointing at "pReserved": a value it accepted lives as long as
        // the module stays loaded (a refused one is freed with the arguments).
        module.keepWhileLoaded(args.reserved.release());
    }
    checkReturnValue(env, rv);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1Finalize)(JNIEnv* env, jobject self, jobject pReserved) {
    // Alone on the module: the calls in flight on other threads have returned, and later ones
    // are refused until it has.
    ModuleCall module(env, self, CallKind::exclusive);
    if (!module) {
        return;
    }
    const std::uint64_t mark = notifyListMark();
    // The reference itself, unconverted: null gives NULL_PTR.
    const CK_RV rv = module->C_Finalize(reinterpret_cast<CK_VOID_PTR>(pReserved));
    if (rv == CKR_OK) {
        // Every session of the module has ended: their notification objects are released (not
        // those of sessions that another thread opened meanwhile, after a new C_Initialize).
        while (NotifyBinding* binding = popNotify(module.module(), mark)) {
            releaseNotifyBinding(env, binding);
        }
    }
    checkReturnValue(env, rv);
}

JNIEXPORT jobject JNICALL VORLEN_WRAPPER(C_1GetInfo)(JNIEnv* env, jobject self) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    return queryRecord<CK_INFO>(
        env, [&](CK_INFO* info) { return module->C_GetInfo(info); }, toJavaInfo);
}

JNIEXPORT jlongArray JNICALL VORLEN_WRAPPER(C_1GetSlotList)(JNIEnv* env, jobject self,
                                                             jboolean tokenPresent) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    const CK_BBOOL present = ckBBool(tokenPresent);
    return queryList(env, "C_GetSlotList", true, [&](CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
        return module->C_GetSlotList(present, list, count);
    });
}

JNIEXPORT jobject JNICALL VORLEN_WRAPPER(C_1GetSlotInfo)(JNIEnv* env, jobject self, jlong slotID) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    return queryRecord<CK_SLOT_INFO>(
        env, [&](CK_SLOT_INFO* info) { return module->C_GetSlotInfo(ckULong(slotID), info); },
        toJavaSlotInfo);
}

JNIEXPORT jobject JNICALL VORLEN_WRAPPER(C_1GetTokenInfo)(JNIEnv* env, jobject self, jlong slotID) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    return queryRecord<CK_TOKEN_INFO>(
        env, [&](CK_TOKEN_INFO* info) { return module->C_GetTokenInfo(ckULong(slotID), info); },
        toJavaTokenInfo);
}

JNIEXPORT jlongArray JNICALL VORLEN_WRAPPER(C_1GetMechanismList)(JNIEnv* env, jobject self,
                                                                  jlong slotID) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    const CK_SLOT_ID slot = ckULong(slotID);
    return queryList(
        env, "C_GetMechanismList", false,
        [&](CK_MECHANISM_TYPE_PTR list, CK_ULONG_PTR count) {
            return module->C_GetMechanismList(slot, list, count);
        },
        true);
}

JNIEXPORT jobject JNICALL VORLEN_WRAPPER(C_1GetMechanismInfo)(JNIEnv* env, jobject self,
                                                              jlong slotID, jlong type) {
    ModuleCall module(env, self);
    if (!module) {
        return nullptr;
    }
    return queryRecord<CK_MECHANISM_INFO>(
        env,
        [&](CK_MECHANISM_INFO* info) {
            return module->C_GetMechanismInfo(ckULong(slotID), ckULong(type), info);
        },
        toJavaMechanismInfo);
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1InitToken)(JNIEnv* env, jobject self, jlong slotID,
                                                    jcharArray pPin, jcharArray pLabel) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    NativeBuffer pin;
    NativeBuffer label;
    if (!toCkCharArray(env, pPin, pin) || !toCkCharArray(env, pLabel, label)) {
        return;
    }
    // The module reads 32 bytes of label: a shorter one is padded with blanks here.
    NativeBuffer padded;
    CK_UTF8CHAR_PTR labelBytes = label.bytes();
    if (!label.isNull() && label.count() < kLabelLength) {
        if (!padded.allocate(env, kLabelLength, kLabelLength, "no room for the token label")) {
            return;
        }
        std::memset(padded.get(), ' ', kLabelLength);
        std::memcpy(padded.get(), label.get(), label.count());
        labelBytes = padded.bytes();
    }
    checkReturnValue(env, module->C_InitToken(ckULong(slotID), pin.bytes(), pin.count(), labelBytes));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1InitPIN)(JNIEnv* env, jobject self, jlong hSession,
                                                  jcharArray pPin) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    NativeBuffer pin;
    if (!toCkCharArray(env, pPin, pin)) {
        return;
    }
    checkReturnValue(env, module->C_InitPIN(ckULong(hSession), pin.bytes(), pin.count()));
}

JNIEXPORT void JNICALL VORLEN_WRAPPER(C_1SetPIN)(JNIEnv* env, jobject self, jlong hSession,
                                                 jcharArray pOldPin, jcharArray pNewPin) {
    ModuleCall module(env, self);
    if (!module) {
        return;
    }
    NativeBuffer oldPin;
    NativeBuffer newPin;
    if (!toCkCharArray(env, pOldPin, oldPin) || !toCkCharArray(env, pNewPin, newPin)) {
        return;
    }
    checkReturnValue(env, module->C_SetPIN(ckULong(hSession), oldPin.bytes(), oldPin.count(),
                                           newPin.bytes(), newPin.count()));
}

JNIEXPORT jlong JNICALL VORLEN_WRAPPER(C_1WaitForSlotEvent)(JNIEnv* env, jobject self, jlong flags,
                                                            jobject /*pReserved*/) {
    // A blocking wait is not waited for: C_Finalize ends it.
    ModuleCall module(env, self,
                      (ckULong(flags) & CKF_DONT_BLOCK) != 0 ? CallKind::ordinary
                                                             : CallKind::unwaited);
    if (!module) {
        return 0;
    }
    CK_SLOT_ID slot = 0;
    if (!succeeded(env, module->C_WaitForSlotEvent(ckULong(flags), &slot, nullptr))) {
        return 0;
    }
    return javaLong(slot);
}

}  // extern "C"
