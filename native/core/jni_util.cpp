#include "core/jni_util.h"

namespace vorlen {

namespace {
std::atomic<std::int64_t> globalReferences{0};
std::atomic<std::int64_t> heapBlocks{0};
// Set only by the tests' fault injector (testmodule/jnicount), through vorlen_heapFaultHook: when
// it answers true, heapAlloc refuses the block as a full heap would. Unset, it costs one load.
std::atomic<bool (*)(std::size_t)> heapFault{nullptr};
}  // namespace

std::int64_t liveGlobalReferences() { return globalReferences.load(std::memory_order_relaxed); }
std::int64_t liveHeapBlocks() { return heapBlocks.load(std::memory_order_relaxed); }

jobject newGlobalRef(JNIEnv* env, jobject object) {
    if (object == nullptr) {
        return nullptr;
    }
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

void* heapAlloc(std::size_t size) noexcept {
    const auto refuse = heapFault.load(std::memory_order_relaxed);
    if (refuse != nullptr && refuse(size)) [[unlikely]] {
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

}  // namespace vorlen

#ifndef _WIN32
// Not part of the library's interface (no Java class declares it; the Windows DLL has none): the
// tests' fault injector finds it with dlsym and sets or clears the hook that refuses heap blocks.
extern "C" __attribute__((visibility("default"))) void vorlen_heapFaultHook(bool (*refuse)(std::size_t)) {
    vorlen::heapFault.store(refuse, std::memory_order_relaxed);
}
#endif
