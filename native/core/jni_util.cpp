#include "core/jni_util.h"

namespace vorlen {

namespace {
std::atomic<std::int64_t> globalReferences{0};
std::atomic<std::int64_t> heapBlocks{0};
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
