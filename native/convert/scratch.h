// Memory for the length of one call: the one type behind every temporary array of the library
// (copies of inputs, outputs a module fills, templates, widened lists). Small sizes live in the
// object itself, larger ones in a counted heap block. It knows how many elements it holds.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "core/jni_util.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

/// Room for `Inline` elements of T without a heap block; more go to the heap. Until allocate
/// succeeds, data() is null and count() 0 (a null input stays null). Outputs that a module
/// fills are allocated with allocate(), which zero-fills: a byte the module did not write reads
/// as zero, never as what the memory held before.
template <typename T, std::size_t Inline>
class Scratch {
    static_assert(std::is_trivially_copyable_v<T>, "scratch memory holds plain values");

public:
    static constexpr std::size_t kInline = Inline;

    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    /// Room for `count` zero-filled elements (a valid, non-null pointer also for 0). False with
    /// OutOfMemoryError pending when the heap has no room or the size overflows.
    bool allocate(JNIEnv* env, std::size_t count, const char* what) {
        if (!allocateUninitialized(env, count, what)) {
            return false;
        }
        if (count > 0) {
            std::memset(static_cast<void*>(data_), 0, count * sizeof(T));
        }
        return true;
    }

    /// As allocate, without the zero fill: for memory that is written in full at once (a copy
    /// of a Java array, a widened list).
    bool allocateUninitialized(JNIEnv* env, std::size_t count, const char* what) {
        data_ = nullptr;
        count_ = 0;
        heap_ = HeapBuffer();
        if (count <= Inline) {
            data_ = reinterpret_cast<T*>(inline_);
        } else {
            if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
                throwOutOfMemory(env, what);
                return false;
            }
            if (!heap_.allocate(env, count * sizeof(T), what)) {
                return false;
            }
            data_ = heap_.as<T>();
        }
        count_ = count;
        return true;
    }

    /// Back to the null state, the heap block freed.
    void reset() {
        heap_ = HeapBuffer();
        data_ = nullptr;
        count_ = 0;
    }

    T* data() const { return data_; }
    std::size_t count() const { return count_; }
    /// count() as a CK_ULONG (the length handed to a module).
    CK_ULONG ulCount() const { return static_cast<CK_ULONG>(count_); }
    std::size_t bytes() const { return count_ * sizeof(T); }
    T& operator[](std::size_t i) const { return data_[i]; }

private:
    alignas(alignof(std::max_align_t) > alignof(T) ? alignof(std::max_align_t)
                                                   : alignof(T)) unsigned char
        inline_[Inline * sizeof(T) > 0 ? Inline * sizeof(T) : 1];
    HeapBuffer heap_;
    T* data_ = nullptr;
    std::size_t count_ = 0;
};

/// Output bytes of one call: up to 512 without a heap block.
using OutputBytes = Scratch<CK_BYTE, 512>;

/// A copy of a Java byte[] input for one call: up to 256 bytes without a heap block.
using InputBytes = Scratch<CK_BYTE, 256>;

/// Copies `array` into `out`. A null array leaves `out` null (null pointer, count 0); an empty
/// one gives a valid pointer with count 0. False with OutOfMemoryError pending when there is no
/// room.
template <std::size_t Inline>
bool copyJavaBytes(JNIEnv* env, jbyteArray array, Scratch<CK_BYTE, Inline>& out) {
    out.reset();
    if (array == nullptr) {
        return true;
    }
    const jsize n = env->GetArrayLength(array);
    const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (!out.allocateUninitialized(env, size, "no room for a copy of a byte[]")) {
        return false;
    }
    if (size > 0) {
        env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(out.data()));
    }
    return true;
}

}  // namespace vorlen
