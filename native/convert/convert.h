// Every conversion between Java values and PKCS#11 structures.
//
// Java to native: the result is owned by a C++ object (NativeBuffer, NativeTemplate,
// NativeMechanism) that frees it when the call is done. A conversion returns false when it
// failed; a Java exception is then pending and the caller must return before calling the
// module. Native to Java: the result is a new local reference, or null with an exception
// pending.
//
// Widths: a Java long becomes a CK_ULONG keeping the low bits that fit; a CK_ULONG becomes a
// Java long by zero extension; a Java int of -1 gives all bits set; a Java char becomes a
// CK_CHAR by keeping its low 8 bits and a CK_CHAR becomes a char by zero extension; a Java
// boolean (or CK_BBOOL) is true only when it equals 1.
#pragma once

#include <jni.h>

#include <cstddef>

#include "core/jni_util.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

// ---- scalars ----

inline CK_ULONG ckULong(jlong value) { return static_cast<CK_ULONG>(value); }
inline CK_ULONG ckULongFromInt(jint value) {
    return static_cast<CK_ULONG>(static_cast<CK_LONG>(value));
}
inline jlong javaLong(CK_ULONG value) { return static_cast<jlong>(value); }
inline CK_BBOOL ckBBool(jboolean value) { return value == 1 ? CK_TRUE : CK_FALSE; }
inline CK_CHAR ckChar(jchar value) { return static_cast<CK_CHAR>(value & 0xFF); }

/// The largest length a Java array can have; longer native values cannot be returned.
constexpr CK_ULONG kMaxJavaArrayLength = 0x7FFFFFFF;

/// bytes = count * elementSize, or false with OutOfMemoryError pending when that overflows.
bool multiplySize(JNIEnv* env, std::size_t count, std::size_t elementSize, std::size_t& bytes);

// ---- owned native buffers ----

/// A native copy of a Java array, string or value, owned for the length of one call.
/// A null Java value gives a null buffer with count 0; an empty array gives a valid, non-null
/// buffer with count 0.
class NativeBuffer {
public:
    NativeBuffer() = default;
    NativeBuffer(NativeBuffer&&) = default;
    NativeBuffer& operator=(NativeBuffer&&) = default;

    /// Allocates `bytes` bytes holding `count` elements; false with OutOfMemoryError pending.
    bool allocate(JNIEnv* env, std::size_t bytes, CK_ULONG count, const char* what) {
        count_ = 0;
        if (!heap_.allocate(env, bytes, what)) {
            return false;
        }
        count_ = count;
        return true;
    }
    void* get() const { return heap_.get(); }
    CK_BYTE_PTR bytes() const { return static_cast<CK_BYTE_PTR>(heap_.get()); }
    template <typename T> T* as() const { return heap_.as<T>(); }
    /// Elements (bytes for byte and character data, CK_ULONGs for handle lists).
    CK_ULONG count() const { return count_; }
    /// Bytes allocated (0 for a null buffer).
    std::size_t size() const { return heap_.size(); }
    bool isNull() const { return !heap_; }
    /// Gives the heap block to a new owner, which frees it with heapFree.
    void* release() {
        count_ = 0;
        return heap_.release();
    }
    void reset() { *this = NativeBuffer(); }
    /// Re-states the count (a list converted as elements and passed on as bytes).
    void setCount(CK_ULONG count) { count_ = count; }

private:
    HeapBuffer heap_;
    CK_ULONG count_ = 0;
};

// ---- primitive arrays and strings ----

bool toCkByteArray(JNIEnv* env, jbyteArray array, NativeBuffer& out);
/// One byte per char: its low 8 bits.
bool toCkCharArray(JNIEnv* env, jcharArray array, NativeBuffer& out);
bool toCkBBoolArray(JNIEnv* env, jbooleanArray array, NativeBuffer& out);
/// One CK_ULONG per element; count() is the element count.
bool toCkULongArray(JNIEnv* env, jlongArray array, NativeBuffer& out);
/// One CK_ULONG per int element (sign-extended, so -1 gives all bits set).
bool toCkULongArrayFromInts(JNIEnv* env, jintArray array, NativeBuffer& out);
/// Modified UTF-8 with a terminating zero; count() is the byte count without the zero.
bool toCkUtf8String(JNIEnv* env, jstring string, NativeBuffer& out);

jbyteArray toJavaByteArray(JNIEnv* env, const CK_BYTE* bytes, CK_ULONG length);
/// Each byte zero-extended to a char; no character set conversion.
jcharArray toJavaCharArray(JNIEnv* env, const CK_UTF8CHAR* bytes, CK_ULONG length);
/// Each CK_ULONG zero-extended.
jlongArray toJavaLongArray(JNIEnv* env, const CK_ULONG* values, CK_ULONG count);
jobject toJavaBoolean(JNIEnv* env, CK_BBOOL value);
jobject toJavaLong(JNIEnv* env, CK_ULONG value);

// ---- information records ----

jobject toJavaVersion(JNIEnv* env, const CK_VERSION& version);
jobject toJavaDate(JNIEnv* env, const CK_DATE& date);
jobject toJavaInfo(JNIEnv* env, const CK_INFO& info);
jobject toJavaSlotInfo(JNIEnv* env, const CK_SLOT_INFO& info);
jobject toJavaTokenInfo(JNIEnv* env, const CK_TOKEN_INFO& info);
jobject toJavaSessionInfo(JNIEnv* env, const CK_SESSION_INFO& info);
jobject toJavaMechanismInfo(JNIEnv* env, const CK_MECHANISM_INFO& info);

// ---- attributes and values ----

/// A converted CK_ATTRIBUTE[]: one block of records, each value a heap block of its own.
class NativeTemplate {
public:
    NativeTemplate() = default;
    NativeTemplate(const NativeTemplate&) = delete;
    NativeTemplate& operator=(const NativeTemplate&) = delete;
    ~NativeTemplate() { freeValues(); }

    /// Makes room for `count` records, all with null values.
    bool allocate(JNIEnv* env, CK_ULONG count);
    CK_ATTRIBUTE_PTR data() const { return block_.as<CK_ATTRIBUTE>(); }
    CK_ULONG count() const { return count_; }
    CK_ATTRIBUTE& operator[](CK_ULONG i) const { return data()[i]; }
    /// Frees every value; the value pointers become null, types and lengths stay.
    void freeValues();
    /// Frees everything: a null template with count 0.
    void clear();

private:
    HeapBuffer block_;
    CK_ULONG count_ = 0;
};

/// A null array gives a null template with count 0. Stops at the first element that cannot
/// be converted (a null element, a value of an unsupported class), frees what it converted
/// and returns false.
bool toCkAttributeArray(JNIEnv* env, jobjectArray array, NativeTemplate& out);
/// Converts a Java value to its native form by its class; null gives a null buffer. An
/// unsupported class throws PKCS11RuntimeException "Java object of this class cannot be
/// converted to native PKCS#11 type: <class name>".
bool toCkValue(JNIEnv* env, jobject value, NativeBuffer& out);
bool toCkVersion(JNIEnv* env, jobject version, NativeBuffer& out);
bool toCkDate(JNIEnv* env, jobject date, NativeBuffer& out);
/// A boxed java.lang.Long as a CK_ULONG (the low bits that fit).
bool toCkULong(JNIEnv* env, jobject value, NativeBuffer& out);

/// A new Java CK_ATTRIBUTE from a native record.
jobject toJavaAttribute(JNIEnv* env, const CK_ATTRIBUTE& attribute);
/// The Java value of a native attribute, chosen by its type; null when the length is 0, does
/// not fit a Java array (CK_UNAVAILABLE_INFORMATION among them) or the pointer is null. A
/// value shorter than its type's fixed width comes back as a byte[] of the bytes present.
jobject toJavaAttributeValue(JNIEnv* env, const CK_ATTRIBUTE& attribute);

}  // namespace vorlen
