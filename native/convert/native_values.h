// The owners of converted native values: each frees what it holds when the call is done.
//
// NativeBuffer owns one converted value, NativeTemplate a CK_ATTRIBUTE[] and its values,
// NativeMechanism a CK_MECHANISM with its parameter record, every buffer that record points to
// and the Java objects its results go back into.
#pragma once

#include <jni.h>

#include <cstddef>
#include <new>
#include <utility>

#include "convert/scratch.h"
#include "pkcs11/pkcs11.h"

namespace vorlen {

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

struct Member;
struct RecordDescriptor;

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
    /// Keeps a local reference to `object` (not null: an array tested, or a new reference to the
    /// record converted) for the copy-back (deleted by reset) and returns it; null with an
    /// exception pending when there is no room.
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

}  // namespace vorlen
