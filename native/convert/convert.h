// Every conversion between Java values and PKCS#11 structures.
//
// Java to native: the result is owned by a C++ object (NativeBuffer, NativeTemplate,
// NativeMechanism: native_values.h) that frees it when the call is done. A conversion returns false when it
// failed; a Java exception is then pending and the caller must return before calling the
// module. Native to Java: the result is a new local reference, or null with an exception
// pending.
//
// Widths: a Java long becomes a CK_ULONG keeping the low bits that fit; a CK_ULONG becomes a
// Java long by zero extension; a Java int is an unsigned 32-bit number (zero-extended), except
// -1, which gives all bits set; a Java char becomes a
// CK_CHAR by keeping its low 8 bits and a CK_CHAR becomes a char by zero extension; a Java
// boolean (or CK_BBOOL) is true only when it equals 1.
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "convert/native_values.h"
#include "core/jni_util.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

// ---- scalars ----

inline CK_ULONG ckULong(jlong value) { return static_cast<CK_ULONG>(value); }
/// An int is an unsigned 32-bit number (0x80000000 stays 0x80000000 at 64 bits), except -1,
/// which gives all bits set (CK_UNAVAILABLE_INFORMATION, CK_EFFECTIVELY_INFINITE...).
inline CK_ULONG ckULongFromInt(jint value) {
    return value == -1 ? ~CK_ULONG{0} : static_cast<CK_ULONG>(static_cast<std::uint32_t>(value));
}
inline jlong javaLong(CK_ULONG value) { return static_cast<jlong>(value); }
inline CK_BBOOL ckBBool(jboolean value) { return value == 1 ? CK_TRUE : CK_FALSE; }
inline CK_CHAR ckChar(jchar value) { return static_cast<CK_CHAR>(value & 0xFF); }

/// The largest length a Java array can have; longer native values cannot be returned.
constexpr CK_ULONG kMaxJavaArrayLength = 0x7FFFFFFF;

/// bytes = count * elementSize, or false with OutOfMemoryError pending when that overflows.
bool multiplySize(JNIEnv* env, std::size_t count, std::size_t elementSize, std::size_t& bytes);

// ---- primitive arrays and strings ----

bool toCkByteArray(JNIEnv* env, jbyteArray array, NativeBuffer& out);
/// One byte per char: its low 8 bits.
bool toCkCharArray(JNIEnv* env, jcharArray array, NativeBuffer& out);
/// The chars as UTF-8 (a surrogate pair gives 4 bytes); count() is the byte count. An unpaired
/// surrogate is refused with IllegalArgumentException.
bool toCkUtf8CharArray(JNIEnv* env, jcharArray array, NativeBuffer& out);
bool toCkBBoolArray(JNIEnv* env, jbooleanArray array, NativeBuffer& out);
/// One CK_ULONG per element; count() is the element count.
bool toCkULongArray(JNIEnv* env, jlongArray array, NativeBuffer& out);
/// One CK_ULONG per int element, as ckULongFromInt gives it.
bool toCkULongArrayFromInts(JNIEnv* env, jintArray array, NativeBuffer& out);
/// Modified UTF-8 with a terminating zero; count() is the byte count without the zero. `string`
/// is not null (toCkValue converts null on its own).
bool toCkUtf8String(JNIEnv* env, jstring string, NativeBuffer& out);

/// The Java arrays of native values. `length` and `count` are at most kMaxJavaArrayLength: every
/// caller bounds them first (a module's lengths by throwIfTooLong or their own test, the others
/// by a fixed size).
jbyteArray toJavaByteArray(JNIEnv* env, const CK_BYTE* bytes, CK_ULONG length);
/// Each byte zero-extended to a char; no character set conversion.
jcharArray toJavaCharArray(JNIEnv* env, const CK_UTF8CHAR* bytes, CK_ULONG length);
/// Each CK_ULONG zero-extended.
jlongArray toJavaLongArray(JNIEnv* env, const CK_ULONG* values, CK_ULONG count);
jobject toJavaBoolean(JNIEnv* env, CK_BBOOL value);
jobject toJavaLong(JNIEnv* env, CK_ULONG value);
/// As toJavaBoolean and toJavaLong, but Boolean.TRUE/FALSE and the small Longs come back as the
/// library's global references themselves (no JNI call): for a caller that only stores the value
/// and never deletes it. Any other Long is a new local reference.
jobject sharedJavaBoolean(CK_BBOOL value);
jobject sharedJavaLong(JNIEnv* env, CK_ULONG value);

// ---- information records ----

jobject toJavaVersion(JNIEnv* env, const CK_VERSION& version);
jobject toJavaDate(JNIEnv* env, const CK_DATE& date);
jobject toJavaInfo(JNIEnv* env, const CK_INFO& info);
jobject toJavaSlotInfo(JNIEnv* env, const CK_SLOT_INFO& info);
jobject toJavaTokenInfo(JNIEnv* env, const CK_TOKEN_INFO& info);
jobject toJavaSessionInfo(JNIEnv* env, const CK_SESSION_INFO& info);
jobject toJavaMechanismInfo(JNIEnv* env, const CK_MECHANISM_INFO& info);
/// A CK_INTERFACE of a module: its NUL-terminated name (null for a null pointer), the version
/// its function list starts with (null for a null list) and its flags.
jobject toJavaInterface(JNIEnv* env, const CK_INTERFACE& info);

// ---- attributes and values ----

/// A null array gives a null template with count 0. Stops at the first element that cannot
/// be converted (a null element, a value of an unsupported class), frees what it converted
/// and returns false.
bool toCkAttributeArray(JNIEnv* env, jobjectArray array, NativeTemplate& out);
/// Local references that toCkAttributeTypes may keep rather than let go one by one: for a
/// template of at most `maxAttributes` elements, room is ensured once (EnsureLocalCapacity, when
/// above the 16 every native method has) for `perAttribute` references per element (its two,
/// element and value, and the caller's) and `spare` more, and the element and value references
/// stay until the native method returns. `kept` says whether that was done.
struct KeptReferences {
    jsize maxAttributes;
    jint perAttribute;
    jint spare;
    bool kept = false;
};
/// As toCkAttributeArray, but only the types are kept: every value pointer is null and every
/// length the byte length the value would convert to. Refuses what toCkAttributeArray refuses.
/// With `keep`, the references of the top-level template may be kept (KeptReferences).
bool toCkAttributeTypes(JNIEnv* env, jobjectArray array, NativeTemplate& out, KeptReferences* keep = nullptr);
/// Converts a Java value to its native form by its class; null gives a null buffer. An
/// unsupported class throws PKCS11RuntimeException "Java object of this class cannot be
/// converted to native PKCS#11 type: <class name>".
bool toCkValue(JNIEnv* env, jobject value, NativeBuffer& out);
/// The byte length toCkValue would give `value`, without converting it; refuses the same
/// classes with the same exception.
bool toCkValueLength(JNIEnv* env, jobject value, CK_ULONG& length);
/// Throws that PKCS11RuntimeException for `value` (not null).
void throwCannotConvert(JNIEnv* env, jobject value);
/// A CK_VERSION or CK_DATE object (not null: their callers convert null on their own).
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
/// As toJavaAttributeValue, but a Boolean or small Long is the shared global reference
/// (sharedJavaBoolean, sharedJavaLong): the result is stored, never deleted.
jobject toJavaAttributeValueShared(JNIEnv* env, const CK_ATTRIBUTE& attribute);

// ---- mechanisms and their parameters ----

struct Member;
struct RecordDescriptor;

/// The calls after which a module leaves results in a mechanism parameter record.
/// Message: the message-based functions of version 3.0, whose per-message parameter is converted
/// as a mechanism parameter of type 0.
enum class ResultsOf : unsigned char { GenerateKey = 1, UnwrapKey = 2, DeriveKey = 4, Message = 8 };

/// A Java CK_MECHANISM: the low bits of "mechanism" that fit and the parameter chosen by its
/// class. A null mechanism throws NullPointerException. False with an exception pending when
/// any part cannot be converted; `out` then holds no parameter.
bool toCkMechanism(JNIEnv* env, jobject mechanism, NativeMechanism& out);

/// The parameter of a mechanism, by the first of these classes it is an instance of: byte[],
/// java.lang.Long, CK_VERSION, then the parameter records (parameter_records.h) in their
/// order; anything else goes to toCkValue. A null parameter gives none (NULL, 0).
bool toCkMechanismParameter(JNIEnv* env, jobject parameter, NativeMechanism& out);

/// Converts `object`, of the record's Java class, into a new parameter block of exactly the
/// record's size (every byte defined: padding is zero). False with an exception pending and
/// no parameter when any member cannot be converted.
bool toCkRecord(JNIEnv* env, const RecordDescriptor& record, jobject object, NativeMechanism& out);

/// After the module call, whatever it returned: when the parameter record's result rule names
/// `function` and the mechanism's type, the results the module left in the record go back into
/// the Java objects and arrays that were converted (never more bytes than both the buffer and
/// the array hold; a null array gets nothing). An exception pending before stays pending.
void copyBackResults(JNIEnv* env, NativeMechanism& mechanism, ResultsOf function);

/// For a converted per-message parameter of an encryption: refuses with
/// IllegalArgumentException (before the module is called) a record whose caller's arrays cannot
/// take what the module returns, which would otherwise be lost while the call succeeds: with
/// `tag`, a tag array (pTag, pMAC) that is null or shorter than the tag; with `generated`, an
/// IV or nonce that the module is to generate into a null or empty array, or one shorter than
/// its fixed bits. Other parameters pass.
bool checkMessageOutputs(JNIEnv* env, NativeMechanism& parameter, bool tag, bool generated);

}  // namespace vorlen
