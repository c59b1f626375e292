#include "core/jni_util.h"

#include "core/jni_cache.h"

namespace vorlen {

namespace {
std::atomic<std::int64_t> globalReferences{0};
std::atomic<std::int64_t> heapBlocks{0};
// Set only by the tests' fault injector (testmodule/jnicount), through vorlen_heapFaultHook: when
// it answers true, heapAlloc (or the library's operator new: `fromNew`) refuses the block as a
// full heap would. Unset, it costs one load.
std::atomic<bool (*)(std::size_t, bool)> heapFault{nullptr};
}  // namespace

std::int64_t liveGlobalReferences() { return globalReferences.load(std::memory_order_relaxed); }
std::int64_t liveHeapBlocks() { return heapBlocks.load(std::memory_order_relaxed); }

jobject newGlobalRef(JNIEnv* env, jobject object) {
    jobject ref = env->NewGlobalRef(object);
    if (ref == nullptr) {
        throwOutOfMemory(env, "no room for a JNI global reference");
        return nullptr;
    }
    globalReferences.fetch_add(1, std::memory_order_relaxed);
    return ref;
}

void deleteGlobalRef(JNIEnv* env, jobject ref) {
    if (ref == nullptr) {
        return;
    }
    env->DeleteGlobalRef(ref);
    globalReferences.fetch_sub(1, std::memory_order_relaxed);
}

bool heapRefused(std::size_t size, bool fromNew) noexcept {
    const auto refuse = heapFault.load(std::memory_order_relaxed);
    return refuse != nullptr && refuse(size, fromNew);
}

void* heapAlloc(std::size_t size) noexcept {
    if (heapRefused(size, false)) [[unlikely]] {
        return nullptr;
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        heapBlocks.fetch_add(1, std::memory_order_relaxed);
    }
    return block;
}

void heapFree(void* block) noexcept {
    if (block != nullptr) {
        heapBlocks.fetch_sub(1, std::memory_order_relaxed);
        std::free(block);
    }
}

namespace {

// The rule of two failures: `first`, unless `later` is an Error where `first` is not. The other
// reference is deleted.
jthrowable prevailing(JNIEnv* env, jthrowable first, jthrowable later) {
    if (first == nullptr || later == nullptr) {
        return first != nullptr ? first : later;
    }
    const bool laterWins =
        env->IsInstanceOf(later, jni::core.error) && !env->IsInstanceOf(first, jni::core.error);
    env->DeleteLocalRef(laterWins ? first : later);
    return laterWins ? later : first;
}

// Takes the pending exception: a local reference, or null when none is pending (one JNI call).
jthrowable takePending(JNIEnv* env) {
    jthrowable pending = env->ExceptionOccurred();
    if (pending != nullptr) {
        env->ExceptionClear();
    }
    return pending;
}

}  // namespace

void HeldException::hold(JNIEnv* env) {
    env_ = env;
    held_ = prevailing(env, held_, takePending(env));
}

void HeldException::raise() {
    if (held_ == nullptr) {
        return;
    }
    jthrowable raised = prevailing(env_, held_, takePending(env_));
    held_ = nullptr;
    env_->Throw(raised);
    env_->DeleteLocalRef(raised);
}

void HeldException::drop() {
    if (held_ != nullptr) {
        env_->DeleteLocalRef(held_);
        held_ = nullptr;
    }
}

}  // namespace vorlen

#ifndef _WIN32
// Not part of the library's interface (no Java class declares it; the Windows DLL has none): the
// tests' fault injector finds it with dlsym and sets or clears the hook that refuses heap blocks.
extern "C" __attribute__((visibility("default"))) void vorlen_heapFaultHook(bool (*refuse)(std::size_t, bool)) {
    vorlen::heapFault.store(refuse, std::memory_order_relaxed);
}
#endif
