// Small owners of JNI resources, so that no early return can leak a frame, a pinned array,
// characters of a string or a global reference.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace vorlen {

// ---- counted global references and heap blocks (the test hooks read the counters) ----

/// Global references that the library holds now.
std::int64_t liveGlobalReferences();
/// Heap blocks that the library holds now (allocated through heapAlloc, not yet freed).
std::int64_t liveHeapBlocks();

/// NewGlobalRef that counts what it made; returns nullptr (with OutOfMemoryError pending where
/// the VM raised none) when the VM cannot make one. `object` is not null (every caller tests it).
jobject newGlobalRef(JNIEnv* env, jobject object);
/// DeleteGlobalRef of a reference made by newGlobalRef; null is ignored.
void deleteGlobalRef(JNIEnv* env, jobject ref);

/// malloc that counts its blocks. A size of 0 yields a valid, non-null block.
void* heapAlloc(std::size_t size) noexcept;
void heapFree(void* block) noexcept;
/// Whether the tests' fault injector refuses a block of `size` bytes now (false unless it is
/// armed): heapAlloc asks it, and so does the library's operator new (`fromNew`) where the
/// linker routes it here (native/core/operator_new.cpp).
bool heapRefused(std::size_t size, bool fromNew) noexcept;

/// Throws java.lang.OutOfMemoryError with `what` unless an exception is already pending.
void throwOutOfMemory(JNIEnv* env, const char* what);

// ---- RAII types ----

/// A heap block owned by one scope; also remembers how many bytes it holds, so that nothing
/// is ever read or written past it.
class HeapBuffer {
public:
    HeapBuffer() = default;
    explicit HeapBuffer(std::size_t size) : data_(heapAlloc(size)), size_(data_ ? size : 0) {}
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;
    HeapBuffer(HeapBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    HeapBuffer& operator=(HeapBuffer&& other) noexcept {
        if (this != &other) {
            heapFree(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~HeapBuffer() { heapFree(data_); }

    /// Allocates `size` bytes; false (and OutOfMemoryError pending) when that fails.
    bool allocate(JNIEnv* env, std::size_t size, const char* what) {
        *this = HeapBuffer(size);
        if (data_ == nullptr) {
            throwOutOfMemory(env, what);
            return false;
        }
        return true;
    }
    void* get() const { return data_; }
    template <typename T> T* as() const { return static_cast<T*>(data_); }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }
    /// Gives the block up to a new owner.
    void* release() {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }
    /// Takes over `block` (from heapAlloc, or null) of `size` bytes.
    static HeapBuffer adopt(void* block, std::size_t size) {
        HeapBuffer buffer;
        buffer.data_ = block;
        buffer.size_ = block != nullptr ? size : 0;
        return buffer;
    }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

/// A local reference deleted at the end of the scope.
template <typename T = jobject>
class LocalRef {
public:
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (ref_ != nullptr) {
            env_->DeleteLocalRef(ref_);
        }
    }
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    T release() { return std::exchange(ref_, nullptr); }

private:
    JNIEnv* env_;
    T ref_;
};

/// A local frame popped at the end of the scope (callbacks on long-lived module threads, groups of
/// new objects).
class LocalFrame {
public:
    LocalFrame(JNIEnv* env, jint capacity) : env_(env), pushed_(env->PushLocalFrame(capacity) == 0) {}
    LocalFrame(const LocalFrame&) = delete;
    LocalFrame& operator=(const LocalFrame&) = delete;
    ~LocalFrame() {
        if (pushed_) {
            env_->PopLocalFrame(nullptr);
        }
    }
    explicit operator bool() const { return pushed_; }
    /// Pops the frame now, keeping `result` (possibly null) as a reference of the frame below.
    jobject pop(jobject result) {
        if (!pushed_) {
            return result;
        }
        pushed_ = false;
        return env_->PopLocalFrame(result);
    }

private:
    JNIEnv* env_;
    bool pushed_;
};

/// The modified UTF-8 characters of a Java string (not null: the callers test it first).
class UtfChars {
public:
    UtfChars(JNIEnv* env, jstring string)
        : env_(env), string_(string), chars_(env->GetStringUTFChars(string, nullptr)) {}
    UtfChars(const UtfChars&) = delete;
    UtfChars& operator=(const UtfChars&) = delete;
    ~UtfChars() {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(string_, chars_);
        }
    }
    const char* get() const { return chars_; }
    explicit operator bool() const { return chars_ != nullptr; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

/// An exception set aside, so that JNI calls may run while it waits, and raised again at the end
/// of the scope: the failure of a callback of the module, held while a wrapper builds the call's
/// results or while a callback makes its Java call. Every pair of failures of one call follows
/// one rule: the first stays, unless a later one is an Error where the first is not (an Error
/// is never dropped); the other is let go. Raised before checkReturnValue, the exception becomes
/// the cause of the module's error, or is dropped when the module answered CKR_OK (unless it is
/// an Error).
class HeldException {
public:
    HeldException() = default;
    /// Holds the exception pending now, if any.
    explicit HeldException(JNIEnv* env) { hold(env); }
    HeldException(const HeldException&) = delete;
    HeldException& operator=(const HeldException&) = delete;
    ~HeldException() { raise(); }

    /// Sets the pending exception (if any) aside, after what is held already, by the rule.
    void hold(JNIEnv* env);
    /// Raises what is held now; an exception pending meanwhile is the later one, by the rule.
    void raise();
    /// Lets go of what is held (for a thread nobody receives an exception on).
    void drop();
    explicit operator bool() const { return held_ != nullptr; }

private:
    JNIEnv* env_ = nullptr;
    jthrowable held_ = nullptr;
};

/// Elements of a Java primitive array (not null: the callers test it first), released with the
/// given mode at the end of the scope.
template <typename ArrayT, typename ElemT,
          ElemT* (JNIEnv::*Get)(ArrayT, jboolean*),
          void (JNIEnv::*Release)(ArrayT, ElemT*, jint)>
class ArrayElements {
public:
    ArrayElements(JNIEnv* env, ArrayT array, jint releaseMode = 0)
        : env_(env), array_(array), mode_(releaseMode),
          elements_((env->*Get)(array, nullptr)) {}
    ArrayElements(const ArrayElements&) = delete;
    ArrayElements& operator=(const ArrayElements&) = delete;
    ~ArrayElements() {
        if (elements_ != nullptr) {
            (env_->*Release)(array_, elements_, mode_);
        }
    }
    ElemT* get() const { return elements_; }
    explicit operator bool() const { return elements_ != nullptr; }

private:
    JNIEnv* env_;
    ArrayT array_;
    jint mode_;
    ElemT* elements_;
};

using ByteArrayElements = ArrayElements<jbyteArray, jbyte, &JNIEnv::GetByteArrayElements,
                                        &JNIEnv::ReleaseByteArrayElements>;
using CharArrayElements = ArrayElements<jcharArray, jchar, &JNIEnv::GetCharArrayElements,
                                        &JNIEnv::ReleaseCharArrayElements>;

}  // namespace vorlen
