// Every conversion between Java values and PKCS#11 structures.
//
// Java to native: the result is owned by a C++ object (NativeBuffer, NativeTemplate,
// NativeMechanism) that frees it when the call is done. A conversion returns false when it
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
#include <new>
#include <utility>

#include "convert/scratch.h"
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
    /// Takes over `block` (from heapAlloc, or null), of at least `bytes` bytes, holding `count`
    /// elements.
    void adopt(void* block, std::size_t bytes, CK_ULONG count) {
        heap_ = HeapBuffer::adopt(block, bytes);
        count_ = block != nullptr ? count : 0;
    }
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
/// The chars as UTF-8 (a surrogate pair gives 4 bytes); count() is the byte count. An unpaired
/// surrogate is refused with IllegalArgumentException.
bool toCkUtf8CharArray(JNIEnv* env, jcharArray array, NativeBuffer& out);
bool toCkBBoolArray(JNIEnv* env, jbooleanArray array, NativeBuffer& out);
/// One CK_ULONG per element; count() is the element count.
bool toCkULongArray(JNIEnv* env, jlongArray array, NativeBuffer& out);
/// One CK_ULONG per int element, as ckULongFromInt gives it.
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
/// A CK_INTERFACE of a module: its NUL-terminated name (null for a null pointer), the version
/// its function list starts with (null for a null list) and its flags.
jobject toJavaInterface(JNIEnv* env, const CK_INTERFACE& info);

// ---- attributes and values ----

/// A converted CK_ATTRIBUTE[]: one block of records (inline for small templates), each value a
/// heap block of its own.
class NativeTemplate {
public:
    NativeTemplate() = default;
    NativeTemplate(const NativeTemplate&) = delete;
    NativeTemplate& operator=(const NativeTemplate&) = delete;
    ~NativeTemplate() { freeValues(); }

    /// Makes room for `count` records, all zero (null values).
    bool allocate(JNIEnv* env, CK_ULONG count);
    /// Null for a null template; never null otherwise, also for count 0.
    CK_ATTRIBUTE_PTR data() const { return records_.data(); }
    CK_ULONG count() const { return records_.ulCount(); }
    CK_ATTRIBUTE& operator[](CK_ULONG i) const { return records_[i]; }
    /// Frees every value; the value pointers become null, types and lengths stay.
    void freeValues();
    /// Gives the value of record i (a heap block, or null) to a new owner; the record's pointer
    /// becomes null.
    void* releaseValue(CK_ULONG i) { return std::exchange(records_[i].pValue, nullptr); }
    /// Frees everything: a null template with count 0.
    void clear();

private:
    // Templates of up to 16 attributes (nearly all of them) need no heap block.
    Scratch<CK_ATTRIBUTE, 16> records_;
};

/// The values of a template read from a module in the standard's calls, and the way back into
/// the caller's Java template. In use:
///   readTypes(template)         the types, with the lengths their Java values would have
///   module call with data()     the module reports the length of every value
///   allocateValues()            one zero-filled block with room for every reported length; an
///                               attribute holding a CK_ATTRIBUTE array (kindOf: the templates)
///                               gets that many zero-filled CK_ATTRIBUTEs, pValue NULL
///   module call with data()     the module writes the values, and for nested arrays the types
///                               and lengths of the nested attributes
///   allocateNestedValues()      after CKR_OK only, when a nested array has records: one
///                               zero-filled block for every nested value; says whether a third
///                               call is needed
///   module call with data()     the module writes every value again, the nested ones too
///   storeValues(template, rv)   new Java CK_ATTRIBUTEs replace the caller's elements
/// A byte of a value that the module did not write reads as zero; only buffers this library gave
/// are read, whatever pointers the module leaves in the records.
class AttributeQuery {
public:
    AttributeQuery() = default;
    AttributeQuery(const AttributeQuery&) = delete;
    AttributeQuery& operator=(const AttributeQuery&) = delete;
    ~AttributeQuery();

    /// As toCkAttributeTypes.
    bool readTypes(JNIEnv* env, jobjectArray array);
    CK_ATTRIBUTE_PTR data() const { return attributes_.data(); }
    CK_ULONG count() const { return attributes_.count(); }

    /// A buffer of the reported length for every value a Java array can hold, all in one
    /// zero-filled block (on the stack when small). A length no Java array can hold
    /// (CK_UNAVAILABLE_INFORMATION among them) gets no buffer: the second call reports it
    /// again and the value reads as null. A nested array whose length is not a whole number of
    /// CK_ATTRIBUTEs gets no buffer either. False with OutOfMemoryError pending.
    bool allocateValues(JNIEnv* env);

    /// After a second call that returned CKR_OK: for every nested array whose length that call
    /// kept, a zero-filled buffer of the reported length for each nested value (none for a
    /// length no Java array can hold), and every length set back to the room its buffer has.
    /// `thirdCall` says whether there is anything to ask for. False with OutOfMemoryError
    /// pending.
    bool allocateNestedValues(JNIEnv* env, bool& thirdCall);

    /// Replaces every element of `array` with a new CK_ATTRIBUTE holding what the last call
    /// (which returned `rv`) left: also after an error, as the Java API promises. A nested array
    /// becomes a CK_ATTRIBUTE[] whose values are typed by their own types, as top-level ones.
    /// A value that cannot be read soundly reads as null, and with CKR_OK a
    /// PKCS11RuntimeException names the first such attribute: a length above the buffer it was
    /// given (top-level or nested), a nested array whose length is not a whole number of
    /// CK_ATTRIBUTEs, or whose count changed between the calls. False with an exception pending.
    ///
    /// A lenient read passes `outcomes`, one per attribute, zero for each not yet known to have
    /// failed: each attribute whose value was read keeps 0, one the module marked unavailable or
    /// that was given no buffer gets `unread`, one whose length went over its buffer
    /// CKR_BUFFER_TOO_SMALL, one whose nested array was inconsistent CK_UNAVAILABLE_INFORMATION;
    /// no exception is then thrown for these faults.
    bool storeValues(JNIEnv* env, jobjectArray array, CK_RV rv, jlong* outcomes = nullptr,
                     jlong unread = 0);

private:
    // What allocateValues gave one attribute (all zero: a plain value without a buffer).
    struct Slot {
        enum State : unsigned char { Plain, Records, NotRecords, CountChanged };
        CK_ULONG capacity;     // bytes of its buffer, or CK_UNAVAILABLE_INFORMATION for none
        void* buffer;          // in values_, or null
        CK_ULONG first;        // the length of the first call (the records' bytes once changed)
        CK_ULONG second;       // the length of the second call, for a count that changed
        std::size_t nestedFirst;  // its first record's index in nested_
        State state;
    };
    // What allocateNestedValues gave one nested attribute.
    struct NestedSlot {
        CK_ULONG capacity;
        void* buffer;
    };
    enum class Fault : unsigned char { None, Overrun, NotRecords, CountChanged, NestedOverrun };
    struct FaultNote {
        Fault kind = Fault::None;
        CK_ATTRIBUTE_TYPE type = 0;
        CK_ULONG reported = 0;
        CK_ULONG other = 0;
        CK_ATTRIBUTE_TYPE inner = 0;
    };

    jobject nestedValue(JNIEnv* env, const Slot& slot, CK_ATTRIBUTE_TYPE outer);
    void noteFault(Fault kind, CK_ATTRIBUTE_TYPE type, CK_ULONG reported, CK_ULONG other,
                   CK_ATTRIBUTE_TYPE inner = 0);

    NativeTemplate attributes_;
    Scratch<Slot, 16> slots_;
    OutputBytes values_;
    Scratch<NestedSlot, 16> nested_;
    OutputBytes nestedValues_;
    bool nestedRead_ = false;
    FaultNote fault_;
};

/// A null array gives a null template with count 0. Stops at the first element that cannot
/// be converted (a null element, a value of an unsupported class), frees what it converted
/// and returns false.
bool toCkAttributeArray(JNIEnv* env, jobjectArray array, NativeTemplate& out);
/// As toCkAttributeArray, but only the types are kept: every value pointer is null and every
/// length the byte length the value would convert to. Refuses what toCkAttributeArray refuses.
bool toCkAttributeTypes(JNIEnv* env, jobjectArray array, NativeTemplate& out);
/// Converts a Java value to its native form by its class; null gives a null buffer. An
/// unsupported class throws PKCS11RuntimeException "Java object of this class cannot be
/// converted to native PKCS#11 type: <class name>".
bool toCkValue(JNIEnv* env, jobject value, NativeBuffer& out);
/// The byte length toCkValue would give `value`, without converting it; refuses the same
/// classes with the same exception.
bool toCkValueLength(JNIEnv* env, jobject value, CK_ULONG& length);
/// Throws that PKCS11RuntimeException for `value` (not null).
void throwCannotConvert(JNIEnv* env, jobject value);
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

// ---- mechanisms and their parameters ----

struct Member;
struct RecordDescriptor;

/// The calls after which a module leaves results in a mechanism parameter record.
/// Message: the message-based functions of version 3.0, whose per-message parameter is converted
/// as a mechanism parameter of type 0.
enum class ResultsOf : unsigned char { GenerateKey = 1, UnwrapKey = 2, DeriveKey = 4, Message = 8 };

/// A few elements kept inline, more on the heap (rare: records that point to many buffers).
template <typename T, std::size_t N>
class SmallList {
public:
    SmallList() = default;
    SmallList(const SmallList&) = delete;
    SmallList& operator=(const SmallList&) = delete;
    ~SmallList() { clear(); }

    /// Appends `value`; false with OutOfMemoryError pending when no room is left.
    bool push(JNIEnv* env, T&& value) {
        if (count_ < N) {
            inline_[count_++] = std::move(value);
            return true;
        }
        if (count_ - N == heapCapacity_) {
            const std::size_t capacity = heapCapacity_ == 0 ? N : 2 * heapCapacity_;
            HeapBuffer larger;
            if (!larger.allocate(env, capacity * sizeof(T), "no room for a mechanism parameter")) {
                return false;
            }
            T* moved = larger.as<T>();
            for (std::size_t i = 0; i < count_ - N; ++i) {
                new (&moved[i]) T(std::move(more()[i]));
                more()[i].~T();
            }
            more_ = std::move(larger);
            heapCapacity_ = capacity;
        }
        new (&more()[count_ - N]) T(std::move(value));
        ++count_;
        return true;
    }
    std::size_t size() const { return count_; }
    T& operator[](std::size_t i) { return i < N ? inline_[i] : more()[i - N]; }
    /// Destroys every element, the last first.
    void clear() {
        while (count_ > N) {
            more()[--count_ - N].~T();
        }
        for (std::size_t i = count_; i > 0; --i) {
            inline_[i - 1] = T();
        }
        count_ = 0;
        more_ = HeapBuffer();
        heapCapacity_ = 0;
    }

private:
    T* more() { return more_.as<T>(); }
    T inline_[N] = {};
    HeapBuffer more_;
    std::size_t count_ = 0;
    std::size_t heapCapacity_ = 0;
};

/// A result of the module that goes back into a Java object after the call: a scalar into the
/// field of `holder`, or bytes into the array `holder`.
struct ResultTarget {
    jobject holder = nullptr;  // a local reference of the NativeMechanism's
    jfieldID field = nullptr;
    const Member* member = nullptr;
    const void* source = nullptr;  // the native value or buffer
    std::size_t bytes = 0;         // the bytes allocated at `source`
};

/// A converted CK_MECHANISM that owns everything it points to: the parameter block and every
/// buffer a parameter record points to (array copies, nested records, buffers the module writes
/// into). All of it is freed with the object, so no native memory of a mechanism outlives the
/// call that converted it. It also keeps the Java objects and arrays that receive the module's
/// results, so that copyBackResults writes into the very objects that were converted.
class NativeMechanism {
public:
    NativeMechanism() = default;
    NativeMechanism(const NativeMechanism&) = delete;
    NativeMechanism& operator=(const NativeMechanism&) = delete;
    ~NativeMechanism() { reset(); }

    /// The record to hand to the module.
    CK_MECHANISM_PTR get() { return &mechanism_; }
    CK_MECHANISM_TYPE type() const { return mechanism_.mechanism; }
    void setType(CK_MECHANISM_TYPE type) { mechanism_.mechanism = type; }
    /// The record the parameter was converted to; null for a parameter of another form.
    const RecordDescriptor* record() const { return record_; }

    /// Takes `block` as the parameter: pParameter and ulParameterLen become its address and
    /// its count. `record` names the record it holds, if any.
    void setParameter(NativeBuffer&& block, const RecordDescriptor* record = nullptr);

    /// Keeps a buffer that the parameter record will point to and stores its address (null
    /// for a null buffer) in `pointer`. False with an exception pending when there is no room.
    bool keep(JNIEnv* env, NativeBuffer&& buffer, void*& pointer);
    /// Keeps a local reference to `object` for the copy-back (deleted by reset) and returns it;
    /// null with an exception pending when there is no room.
    jobject keepObject(JNIEnv* env, jobject object);
    /// Adds a result to copy back; false with an exception pending when there is no room.
    bool keepResult(JNIEnv* env, const ResultTarget& target) {
        return results_.push(env, ResultTarget(target));
    }
    std::size_t resultCount() const { return results_.size(); }
    ResultTarget& result(std::size_t i) { return results_[i]; }

    /// Frees the parameter, its nested buffers and the references kept for the copy-back: a
    /// mechanism without parameter.
    void reset();

private:
    CK_MECHANISM mechanism_{};
    const RecordDescriptor* record_ = nullptr;
    NativeBuffer block_;
    // Inline room for what most records need; the rest, and the records with results, use the
    // heap (the records with many buffers and with results keep that path exercised).
    SmallList<NativeBuffer, 3> nested_;
    SmallList<ResultTarget, 2> results_;
    SmallList<jobject, 2> objects_;
    JNIEnv* env_ = nullptr;  // of the objects kept
};

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
