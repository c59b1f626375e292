// One region of bytes of a ByteBuffer overload: in a direct buffer (used in place) or in a Java
// array (copied into native memory for the module call, an output copied back after it). Shared
// by the buffer calls of the crypto functions and of the message functions.
#pragma once

#include <jni.h>

#include <algorithm>
#include <cstdint>

#include "convert/convert.h"
#include "convert/scratch.h"
#include "core/exceptions.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

inline constexpr const char* kNoRoomForBufferCopy = "no room for a copy of a buffer's bytes";

/// One region of bytes: in a direct buffer (used in place) or in a Java array (copied).
class Region {
public:
    Region() = default;
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;

    /// Finds the region; for an array region that is an input, copies it. False with an
    /// exception pending when the arguments do not describe a region of the buffer or array,
    /// or there is no room for the copy. No buffer and no array is the empty, absent region.
    /// A direct buffer's capacity comes from the Java side (a buffer's capacity never changes),
    /// which saves the VM's type check and field read of GetDirectBufferCapacity.
    bool take(JNIEnv* env, jobject buffer, jint capacity, jbyteArray array, jint offset, jint length,
              bool input) {
        if (offset < 0 || length < 0) {
            throwIllegalArgument(env, "a negative buffer offset or length");
            return false;
        }
        length_ = static_cast<CK_ULONG>(length);
        const std::int64_t end = static_cast<std::int64_t>(offset) + length;
        if (buffer != nullptr) {
            auto* base = static_cast<CK_BYTE_PTR>(env->GetDirectBufferAddress(buffer));
            if (base == nullptr || capacity < 0) {
                throwIllegalArgument(env, "the buffer is not a direct buffer");
                return false;
            }
            if (end > capacity) {
                throwIllegalArgument(env, "the region lies outside the buffer");
                return false;
            }
            data_ = base + offset;
            return true;
        }
        if (array == nullptr) {
            if (length != 0) {
                throwIllegalArgument(env, "no buffer for a region of bytes");
                return false;
            }
            data_ = nullptr;
            return true;
        }
        if (end > env->GetArrayLength(array)) {
            throwIllegalArgument(env, "the region lies outside the array");
            return false;
        }
        array_ = array;
        offset_ = offset;
        // An output is zero-filled: bytes a module reports but does not write read as zero.
        const bool copied = input ? copy_.allocateUninitialized(env, length_, kNoRoomForBufferCopy)
                                  : copy_.allocate(env, length_, kNoRoomForBufferCopy);
        if (!copied) {
            return false;
        }
        data_ = copy_.data();
        if (input && length > 0) {
            env->GetByteArrayRegion(array, offset, length, reinterpret_cast<jbyte*>(data_));
        }
        return true;
    }

    /// Copies the first `written` output bytes back into the array (nothing for a direct buffer).
    void copyBack(JNIEnv* env, CK_ULONG written) const {
        if (array_ != nullptr && written > 0) {
            env->SetByteArrayRegion(array_, offset_, static_cast<jsize>(written),
                                    reinterpret_cast<const jbyte*>(data_));
        }
    }

    /// Whether the two regions share bytes of memory.
    bool overlaps(const Region& other) const {
        if (data_ == nullptr || other.data_ == nullptr || length_ == 0 || other.length_ == 0) {
            return false;
        }
        const auto a = reinterpret_cast<std::uintptr_t>(data_);
        const auto b = reinterpret_cast<std::uintptr_t>(other.data_);
        return a < b + other.length_ && b < a + length_;
    }

    /// Replaces the region's bytes by a private copy (an input that shares memory with the output).
    bool copyAside(JNIEnv* env) {
        if (!copy_.allocateUninitialized(env, length_, kNoRoomForBufferCopy)) {
            return false;
        }
        std::copy(data_, data_ + length_, copy_.data());
        data_ = copy_.data();
        return true;
    }

    CK_BYTE_PTR data() const { return data_; }
    CK_ULONG length() const { return length_; }

private:
    CK_BYTE_PTR data_ = nullptr;
    CK_ULONG length_ = 0;
    jbyteArray array_ = nullptr;
    jint offset_ = 0;
    OutputBytes copy_;
};

/// The input and output regions of one call.
struct Regions {
    Region in;
    Region out;

    /// Takes both regions (the output may be absent unless `hasOutput`); an input that shares
    /// memory with the output is read before any output is written.
    bool take(JNIEnv* env, bool hasOutput, jobject inBuffer, jint inCapacity, jbyteArray inArray, jint inOffset,
              jint inLength, jobject outBuffer, jint outCapacity, jbyteArray outArray, jint outOffset,
              jint outLength) {
        return in.take(env, inBuffer, inCapacity, inArray, inOffset, inLength, true) &&
               out.take(env, outBuffer, outCapacity, outArray, outOffset, outLength, !hasOutput) &&
               (!hasOutput || !in.overlaps(out) || in.copyAside(env));
    }

    /// The output pointer, never null: the module would take a null one for a size query.
    CK_BYTE_PTR output() { return out.data() != nullptr ? out.data() : &noRoom_; }

private:
    CK_BYTE noRoom_ = 0;
};

}  // namespace vorlen
