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
#include "core/module_list.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

/// checkReturnValue as a condition: true for CKR_OK, otherwise the exception is pending.
inline bool succeeded(JNIEnv* env, CK_RV rv) { return checkReturnValue(env, rv) == 0; }

/// Output bytes for one call: on the stack when small, on the heap otherwise.
class ScratchBuffer {
public:
    static constexpr std::size_t kInline = 512;

    ScratchBuffer() = default;
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    bool allocate(JNIEnv* env, std::size_t size, const char* what) {
        size_ = size;
        if (size <= kInline) {
            data_ = inline_;
            return true;
        }
        if (!heap_.allocate(env, size, what)) {
            data_ = nullptr;
            size_ = 0;
            return false;
        }
        data_ = heap_.as<CK_BYTE>();
        return true;
    }
    CK_BYTE_PTR data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    alignas(alignof(std::max_align_t)) CK_BYTE inline_[kInline];
    HeapBuffer heap_;
    CK_BYTE_PTR data_ = nullptr;
    std::size_t size_ = 0;
};

/// A copy of a Java byte[] input for one call: on the stack when small, on the heap
/// otherwise. A null array gives a null pointer with length 0, an empty one a valid pointer
/// with length 0.
class InputBytes {
public:
    static constexpr std::size_t kInline = 256;

    InputBytes() = default;
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    /// Copies `array`; false with OutOfMemoryError pending when there is no room.
    bool convert(JNIEnv* env, jbyteArray array) {
        data_ = nullptr;
        length_ = 0;
        if (array == nullptr) {
            return true;
        }
        const jsize n = env->GetArrayLength(array);
        const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 0;
        if (size <= kInline) {
            data_ = inline_;
        } else if (heap_.allocate(env, size, "no room for a copy of a byte[]")) {
            data_ = heap_.as<CK_BYTE>();
        } else {
            return false;
        }
        if (size > 0) {
            env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(data_));
        }
        length_ = static_cast<CK_ULONG>(size);
        return true;
    }
    CK_BYTE_PTR data() const { return data_; }
    CK_ULONG length() const { return length_; }

private:
    CK_BYTE inline_[kInline];
    HeapBuffer heap_;
    CK_BYTE_PTR data_ = nullptr;
    CK_ULONG length_ = 0;
};

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

/// A fixed-size record filled by the module, converted only after CKR_OK.
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
/// buffer, then with a buffer of the reported length (non-null also for 0 bytes). The result
/// holds the bytes of the length the second call wrote back; a length over the buffer with
/// CKR_OK is refused.
template <typename Call>
jbyteArray queryBytes(JNIEnv* env, const char* function, Call call) {
    CK_ULONG length = 0;
    if (!succeeded(env, call(nullptr, &length)) ||
        throwIfTooLong(env, function, "bytes", length)) {
        return nullptr;
    }
    ScratchBuffer output;
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
/// `oneCallWhenEmpty`, a size query that reports no entries ends the call.
template <typename Call>
jlongArray queryList(JNIEnv* env, const char* function, bool oneCallWhenEmpty, Call call) {
    CK_ULONG count = 0;
    if (!succeeded(env, call(nullptr, &count)) ||
        throwIfTooLong(env, function, "entries", count)) {
        return nullptr;
    }
    if (count == 0 && oneCallWhenEmpty) {
        return toJavaLongArray(env, nullptr, 0);
    }
    std::size_t bytes = 0;
    NativeBuffer list;
    if (!multiplySize(env, count, sizeof(CK_ULONG), bytes) ||
        !list.allocate(env, bytes, count, "no room for a PKCS#11 list")) {
        return nullptr;
    }
    CK_ULONG written = count;
    const CK_RV rv = call(list.as<CK_ULONG>(), &written);
    if (rv == CKR_OK && throwIfOverrun(env, function, "entries", written, count)) {
        return nullptr;
    }
    if (!succeeded(env, rv)) {
        return nullptr;
    }
    return toJavaLongArray(env, list.as<CK_ULONG>(), written);
}

}  // namespace vorlen
