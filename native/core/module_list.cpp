#include "core/module_list.h"

#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "core/exceptions.h"
#include "core/jni_cache.h"
#include "core/jni_util.h"

namespace vorlen {

// One slot of ModuleList. Slots are never freed, only reused with a new generation, so a
// stale handle always points at valid memory and is told apart by its generation.
struct Binding {
    // generation (high 32 bits) | dying | bound | calls in flight (low 30 bits)
    std::atomic<std::uint64_t> state{0};
    jobject object = nullptr;  // global reference to the PKCS11Impl object
    ModuleRecord record;
    bool unloadWhenReleased = false;
    std::uint32_t index = 0;
    std::atomic<void*> kept{nullptr};  // see ModuleCall::keepUntilUnbound
};

namespace {

constexpr std::uint64_t kCountMask = (std::uint64_t{1} << 30) - 1;
constexpr std::uint64_t kBound = std::uint64_t{1} << 30;
constexpr std::uint64_t kDying = std::uint64_t{1} << 31;
constexpr unsigned kGenerationShift = 32;

constexpr std::size_t kChunkBits = 8;
constexpr std::size_t kChunkSize = std::size_t{1} << kChunkBits;
constexpr std::size_t kMaxChunks = std::size_t{1} << 14;  // room for four million bindings

std::array<std::atomic<Binding*>, kMaxChunks> chunks{};

// Guards the writers of ModuleList: slot allocation, binding and unbinding. Readers (calls)
// never take it. No Java code runs while it is held.
std::mutex writeLock;
std::vector<std::uint32_t> freeSlots;
std::uint32_t nextIndex = 0;
std::atomic<bool> initialized{false};
std::atomic<std::int64_t> bindingsAlive{0};

// Guards loading and unloading of module files together with the count of uses per module,
// so that "the library no longer uses this module" is decided exactly once.
std::mutex loaderLock;
std::unordered_map<platform::LibraryHandle, std::int64_t> moduleUses;

std::uint32_t generationOf(std::uint64_t state) {
    return static_cast<std::uint32_t>(state >> kGenerationShift);
}

jlong handleOf(const Binding* binding) {
    const std::uint64_t generation = generationOf(binding->state.load(std::memory_order_relaxed));
    return static_cast<jlong>((std::uint64_t{generation} << kGenerationShift) |
                              (std::uint64_t{binding->index} + 1));
}

Binding* slotAt(std::uint64_t index) {
    if (index >= kChunkSize * kMaxChunks) {
        return nullptr;
    }
    Binding* chunk = chunks[index >> kChunkBits].load(std::memory_order_acquire);
    return chunk != nullptr ? &chunk[index & (kChunkSize - 1)] : nullptr;
}

// Pins the binding named by `handle` if it is bound; the caller then checks identity.
Binding* acquire(jlong handle) {
    const auto raw = static_cast<std::uint64_t>(handle);
    const std::uint64_t low = raw & 0xFFFFFFFFu;
    if (low == 0) {
        return nullptr;
    }
    Binding* binding = slotAt(low - 1);
    if (binding == nullptr) {
        return nullptr;
    }
    const std::uint32_t generation = generationOf(raw);
    std::uint64_t state = binding->state.load(std::memory_order_acquire);
    for (;;) {
        if (generationOf(state) != generation || (state & kBound) == 0 ||
            (state & kCountMask) == kCountMask) {
            return nullptr;
        }
        if (binding->state.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                                 std::memory_order_acquire)) {
            return binding;
        }
    }
}

void finishUnbinding(JNIEnv* env, Binding* binding);

void release(JNIEnv* env, Binding* binding) {
    const std::uint64_t old = binding->state.fetch_sub(1, std::memory_order_acq_rel);
    if ((old & kCountMask) == 1 && (old & kDying) != 0) {
        finishUnbinding(env, binding);
    }
}

// Takes the binding out of service (writeLock held). Returns true when no call is in flight,
// so that the caller must finish it after releasing the lock; otherwise the last call in
// flight finishes it.
bool unbindLocked(Binding* binding, bool unloadModuleWhenReleased) {
    binding->unloadWhenReleased = unloadModuleWhenReleased;
    std::uint64_t state = binding->state.load(std::memory_order_relaxed);
    while (!binding->state.compare_exchange_weak(state, (state & ~kBound) | kDying,
                                                 std::memory_order_acq_rel,
                                                 std::memory_order_relaxed)) {
    }
    return (state & kCountMask) == 0;
}

// The binding of `object`, if it is bound (writeLock held).
Binding* findBoundLocked(JNIEnv* env, jobject object) {
    const jlong handle = env->GetLongField(object, jni::core.pkcs11ImplBindingHandle);
    const auto raw = static_cast<std::uint64_t>(handle);
    const std::uint64_t low = raw & 0xFFFFFFFFu;
    if (low == 0) {
        return nullptr;
    }
    Binding* binding = slotAt(low - 1);
    if (binding == nullptr) {
        return nullptr;
    }
    const std::uint64_t state = binding->state.load(std::memory_order_acquire);
    if (generationOf(state) != generationOf(raw) || (state & kBound) == 0 ||
        !env->IsSameObject(binding->object, object)) {
        return nullptr;
    }
    return binding;
}

Binding* allocateSlotLocked() {
    if (!freeSlots.empty()) {
        Binding* binding = slotAt(freeSlots.back());
        freeSlots.pop_back();
        return binding;
    }
    const std::uint32_t index = nextIndex;
    if (index >= kChunkSize * kMaxChunks) {
        return nullptr;
    }
    std::atomic<Binding*>& chunkSlot = chunks[index >> kChunkBits];
    if (chunkSlot.load(std::memory_order_relaxed) == nullptr) {
        Binding* chunk = new (std::nothrow) Binding[kChunkSize];
        if (chunk == nullptr) {
            return nullptr;
        }
        for (std::size_t i = 0; i < kChunkSize; ++i) {
            chunk[i].index = static_cast<std::uint32_t>((index & ~(kChunkSize - 1)) + i);
        }
        chunkSlot.store(chunk, std::memory_order_release);
    }
    ++nextIndex;
    return slotAt(index);
}

void finishUnbinding(JNIEnv* env, Binding* binding) {
    // No call is in flight and none can start: the slot is ours alone until recycled.
    jobject object = binding->object;
    const ModuleRecord record = binding->record;
    const bool unload = binding->unloadWhenReleased;
    binding->object = nullptr;
    binding->record = ModuleRecord{};
    heapFree(binding->kept.exchange(nullptr));
    deleteGlobalRef(env, object);
    if (unload) {
        unloadModule(env, record.library);
    }
    std::lock_guard<std::mutex> guard(writeLock);
    const std::uint64_t state = binding->state.load(std::memory_order_relaxed);
    binding->state.store(std::uint64_t{generationOf(state) + 1u} << kGenerationShift,
                         std::memory_order_release);
    try {
        freeSlots.push_back(binding->index);
    } catch (const std::bad_alloc&) {
        // The slot is lost for reuse; the list stays consistent.
    }
    bindingsAlive.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

bool markLibraryInitialized() { return initialized.exchange(true); }
bool libraryInitialized() { return initialized.load(std::memory_order_acquire); }

void finalizeModuleList(JNIEnv* env) {
    std::vector<Binding*> finishNow;
    {
        std::lock_guard<std::mutex> guard(writeLock);
        initialized.store(false, std::memory_order_release);
        for (std::uint32_t index = 0; index < nextIndex; ++index) {
            Binding* binding = slotAt(index);
            if ((binding->state.load(std::memory_order_acquire) & kBound) == 0) {
                continue;
            }
            // The module stays loaded: its sessions may still call back.
            if (unbindLocked(binding, false)) {
                try {
                    finishNow.push_back(binding);
                } catch (const std::bad_alloc&) {
                    // Leaves that slot dying; it is never reused, nothing else is lost.
                }
            }
        }
    }
    for (Binding* binding : finishNow) {
        finishUnbinding(env, binding);
    }
}

platform::LibraryHandle loadModule(const char* path, std::string& error) {
    std::lock_guard<std::mutex> guard(loaderLock);
    platform::LibraryHandle library = platform::openLibrary(path, error);
    if (library != nullptr) {
        try {
            ++moduleUses[library];
        } catch (const std::bad_alloc&) {
            platform::closeLibrary(library);
            error = "out of memory";
            return nullptr;
        }
    }
    return library;
}

void unloadModule(JNIEnv* env, platform::LibraryHandle library) {
    if (library == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(loaderLock);
    auto found = moduleUses.find(library);
    const bool lastUse = found == moduleUses.end() || --found->second == 0;
    if (found != moduleUses.end() && found->second == 0) {
        moduleUses.erase(found);
    }
    platform::closeLibrary(library);
    if (lastUse) {
        releaseModuleState(env, library);
    }
}

bool putModule(JNIEnv* env, jobject object, const ModuleRecord& record) {
    Binding* replaced = nullptr;
    bool finishReplaced = false;
    {
        std::lock_guard<std::mutex> guard(writeLock);
        if (!initialized.load(std::memory_order_relaxed)) {
            throwPKCS11RuntimeException(
                env, "The PKCS#11 library is not initialized: call PKCS11Impl.initializeLibrary() first.");
            return false;
        }
        Binding* binding = allocateSlotLocked();
        if (binding == nullptr) {
            throwOutOfMemory(env, "no room for another module binding");
            return false;
        }
        jobject ref = newGlobalRef(env, object);
        if (ref == nullptr) {
            try {
                freeSlots.push_back(binding->index);
            } catch (const std::bad_alloc&) {
                // The slot is lost for reuse; the list stays consistent.
            }
            return false;
        }
        replaced = findBoundLocked(env, object);
        if (replaced != nullptr) {
            // Rebinding: the earlier module stays loaded (calls in flight on it finish there).
            finishReplaced = unbindLocked(replaced, false);
        }
        binding->object = ref;
        binding->record = record;
        binding->unloadWhenReleased = false;
        const std::uint64_t generation =
            generationOf(binding->state.load(std::memory_order_relaxed));
        binding->state.store((std::uint64_t{generation} << kGenerationShift) | kBound,
                             std::memory_order_release);
        bindingsAlive.fetch_add(1, std::memory_order_relaxed);
        env->SetLongField(object, jni::core.pkcs11ImplBindingHandle, handleOf(binding));
    }
    if (finishReplaced) {
        finishUnbinding(env, replaced);
    }
    return true;
}

bool removeModule(JNIEnv* env, jobject object) {
    Binding* binding = nullptr;
    bool finishNow = false;
    {
        std::lock_guard<std::mutex> guard(writeLock);
        binding = findBoundLocked(env, object);
        if (binding == nullptr) {
            return false;
        }
        finishNow = unbindLocked(binding, true);
        env->SetLongField(object, jni::core.pkcs11ImplBindingHandle, 0);
    }
    if (finishNow) {
        finishUnbinding(env, binding);
    }
    return true;
}

ModuleCall::ModuleCall(JNIEnv* env, jobject object) : env_(env) {
    if (object != nullptr && jni::cachesReady()) {
        const jlong handle = env->GetLongField(object, jni::core.pkcs11ImplBindingHandle);
        Binding* binding = acquire(handle);
        if (binding != nullptr) {
            if (binding->record.functions != nullptr && env->IsSameObject(binding->object, object)) {
                binding_ = binding;
                functions_ = binding->record.functions;
                return;
            }
            release(env, binding);
        }
    }
    throwNotConnected(env);
}

ModuleCall::~ModuleCall() {
    if (binding_ != nullptr) {
        release(env_, binding_);
    }
}

const void* ModuleCall::module() const {
    return binding_ != nullptr ? binding_->record.library : nullptr;
}

void ModuleCall::keepUntilUnbound(void* block) {
    if (block != nullptr && binding_ != nullptr) {
        heapFree(binding_->kept.exchange(block));
    }
}

std::int64_t liveBindings() { return bindingsAlive.load(std::memory_order_relaxed); }

}  // namespace vorlen
