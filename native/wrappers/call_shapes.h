// The shapes that many PKCS#11 wrappers share, written once. A wrapper states its
// conversions, its module entry (as a small lambda) and its result; the shape does the size
// query, the buffer, the overrun check and the conversion back.
#pragma once

#include <jni.h>

#include <cstdio>
#include <utility>

#include "convert/convert.h"
#include "core/exceptions.h"
#include "core/jni_util.h"
#include "core/modules.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

/// checkReturnValue as a condition: true for CKR_OK with no exception pending; otherwise an
/// exception is pending (the module's error, or an Error a callback threw while the module
/// answered CKR_OK) and no result may be built.
inline bool succeeded(JNIEnv* env, CK_RV rv) {
    if (rv == CKR_OK && !callbackExceptionPending(env)) {
        return true;  // the common case, with no JNI call unless a callback ran here
    }
    return checkReturnValue(env, rv) == 0 && !env->ExceptionCheck();
}

/// A length or count the module reported that no Java array could hold: refused before any
/// allocation is made for it.
inline bool throwIfTooLong(JNIEnv* env, const char* function, const char* what, CK_ULONG reported) {
    if (reported <= kMaxJavaArrayLength) {
        return false;
    }
    char message[200];
    std::snprintf(message, sizeof message,
                  "%s reported %lu %s, more than a Java array can hold", function,
                  static_cast<unsigned long>(reported), what);
    throwPKCS11RuntimeException(env, message);
    return true;
}

/// A fixed-size record filled by the module (zero before the call), converted only after
/// CKR_OK.
/// `call(Record*)` makes the module call.
template <typename Record, typename Call, typename Convert>
jobject queryRecord(JNIEnv* env, Call call, Convert convert) {
    Record record{};
    if (!succeeded(env, call(&record))) {
        return nullptr;
    }
    return convert(env, record);
}

/// The size-query shape for byte output: `call(buffer, &length)` is made first with a null
/// buffer, then with a zero-filled buffer of the reported length (non-null also for 0 bytes),
/// plus `extraRoom` bytes where the caller knows that modules under-report. The result holds
/// the bytes of the length the second call wrote back; a length over the buffer with CKR_OK is
/// refused.
template <typename Call>
jbyteArray queryBytes(JNIEnv* env, const char* function, Call call, CK_ULONG extraRoom = 0) {
    CK_ULONG length = 0;
    if (!succeeded(env, call(nullptr, &length)) ||
        throwIfTooLong(env, function, "bytes", length)) {
        return nullptr;
    }
    if (length <= kMaxJavaArrayLength - extraRoom) {
        length += extraRoom;  // more room than needed is always allowed; the module says what it wrote
    }
    OutputBytes output;  // zero-filled: a module that writes less leaves no stray bytes
    if (!output.allocate(env, length, "no room for the output of a PKCS#11 call")) {
        return nullptr;
    }
    CK_ULONG written = length;
    const CK_RV rv = call(output.data(), &written);
    if (rv == CKR_OK && throwIfOverrun(env, function, "bytes", written, length)) {
        return nullptr;
    }
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaByteArray(env, output.data(), written);
}

/// The size-query shape for lists of CK_ULONG (slot IDs, mechanism types). With
/// `oneCallWhenEmpty`, a size query that reports no entries ends the call. With
/// `roomToReadPast`, the list is followed by as many zeroed entries again, which the module is
/// not offered: p11-kit's client (0.24) reads up to a list's length past the end of the
/// mechanism list it fills, which would otherwise read whatever lies beyond the block.
template <typename Call>
jlongArray queryList(JNIEnv* env, const char* function, bool oneCallWhenEmpty, Call call,
                     bool roomToReadPast = false) {
    CK_ULONG count = 0;
    if (!succeeded(env, call(nullptr, &count)) ||
        throwIfTooLong(env, function, "entries", count)) {
        return nullptr;
    }
    if (count == 0 && oneCallWhenEmpty) {
        return toJavaLongArray(env, nullptr, 0);
    }
    Scratch<CK_ULONG, 64> list;  // zero-filled, as every output
    // count is at most a Java array's length, so twice it still fits a CK_ULONG of 32 bits
    const CK_ULONG room = roomToReadPast ? 2 * count : count;
    if (!list.allocate(env, room, "no room for a PKCS#11 list")) {
        return nullptr;
    }
    CK_ULONG written = count;
    const CK_RV rv = call(list.data(), &written);
    if (rv == CKR_OK && throwIfOverrun(env, function, "entries", written, count)) {
        return nullptr;
    }
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaLongArray(env, list.data(), written);
}

}  // namespace vorlen
