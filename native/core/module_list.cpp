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
#include "core/slot_table.h"

namespace vorlen {

// One slot of ModuleList. Slots are never freed, only reused with a new generation, so a
// stale handle always points at valid memory and is told apart by its generation.
struct Binding {
    // generation (high 32 bits) | dying | bound | calls in flight counted here (low 30 bits;
    // most calls announce themselves in a pin of their thread instead)
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

// Room for four million bindings.
SlotTable<Binding> slots;

// Guards the writers of ModuleList: slot allocation, binding and unbinding. Readers (calls)
// never take it. No Java code runs while it is held.
std::mutex writeLock;
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

Binding* slotAt(std::uint64_t index) { return slots.at(index); }

// ---- calls in flight ----
//
// A call announces the binding it uses in a pin of its own thread (a few nested calls deep:
// a callback may call into another object), so that threads calling at once never write to a
// shared cache line. Only when a thread runs out of pins does a call count itself in the
// binding's state word instead. Unbinding marks the binding dying; it is finished (its module
// unloaded, its slot recycled) once no pin holds it and its count is zero. Pinning and
// unbinding follow the store-then-load pattern on both sides (sequentially consistent), so
// either the call sees the binding dying and lets go, or the unbinding sees the pin and leaves
// the finishing to the call's release.

constexpr int kPinDepth = 8;

struct ThreadPins {
    std::array<std::atomic<Binding*>, kPinDepth> pinned{};
    int depth = 0;                  // used by the owning thread only
    std::atomic<bool> inUse{true};  // a record whose thread ended is reused by a new thread
    ThreadPins* next = nullptr;     // fixed once the record is published
};

std::atomic<ThreadPins*> allPins{nullptr};

ThreadPins* claimPins() {
    for (ThreadPins* p = allPins.load(std::memory_order_acquire); p != nullptr; p = p->next) {
        bool expected = false;
        if (p->inUse.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
            return p;
        }
    }
    auto* fresh = new (std::nothrow) ThreadPins;
    if (fresh == nullptr) {
        return nullptr;  // calls on this thread count themselves in the state word
    }
    fresh->next = allPins.load(std::memory_order_relaxed);
    while (!allPins.compare_exchange_weak(fresh->next, fresh, std::memory_order_release,
                                          std::memory_order_relaxed)) {
    }
    return fresh;
}

// The calling thread's pins, claimed at its first call and given back when it ends.
struct PinsOfThisThread {
    ThreadPins* pins = nullptr;
    ~PinsOfThisThread() {
        if (pins != nullptr) {
            pins->depth = 0;
            pins->inUse.store(false, std::memory_order_release);
        }
    }
};
thread_local PinsOfThisThread pinsOfThisThread;

ThreadPins* myPins() {
    if (pinsOfThisThread.pins == nullptr) {
        pinsOfThisThread.pins = claimPins();
    }
    return pinsOfThisThread.pins;
}

bool pinnedAnywhere(const Binding* binding) {
    for (ThreadPins* p = allPins.load(std::memory_order_acquire); p != nullptr; p = p->next) {
        for (const std::atomic<Binding*>& pin : p->pinned) {
            if (pin.load(std::memory_order_seq_cst) == binding) {
                return true;
            }
        }
    }
    return false;
}

// Bindings taken out of service whose calls may still be in flight (writeLock held).
std::vector<Binding*> dying;

void finishUnbinding(JNIEnv* env, Binding* binding);

// Finishes every dying binding that no call holds any more.
void reclaim(JNIEnv* env) {
    std::vector<Binding*> finishNow;
    {
        std::lock_guard<std::mutex> guard(writeLock);
        for (auto it = dying.begin(); it != dying.end();) {
            Binding* binding = *it;
            if ((binding->state.load(std::memory_order_seq_cst) & kCountMask) == 0 &&
                !pinnedAnywhere(binding)) {
                try {
                    finishNow.push_back(binding);
                } catch (const std::bad_alloc&) {
                    ++it;  // finished by a later reclaim
                    continue;
                }
                it = dying.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Binding* binding : finishNow) {
        finishUnbinding(env, binding);
    }
}

struct Pin {
    Binding* binding = nullptr;
    int slot = -1;  // index in the thread's pins, or -1 when counted in the state word
};

bool usable(std::uint64_t state, std::uint32_t generation) {
    return generationOf(state) == generation && (state & kBound) != 0;
}

// Pins the binding named by `handle` if it is bound; the caller then checks identity.
Pin acquire(JNIEnv* env, jlong handle) {
    const auto raw = static_cast<std::uint64_t>(handle);
    const std::uint64_t low = raw & 0xFFFFFFFFu;
    if (low == 0) {
        return {};
    }
    Binding* binding = slotAt(low - 1);
    if (binding == nullptr) {
        return {};
    }
    const std::uint32_t generation = generationOf(raw);
    if (!usable(binding->state.load(std::memory_order_acquire), generation)) {
        return {};
    }
    ThreadPins* pins = myPins();
    if (pins != nullptr && pins->depth < kPinDepth) {
        const int slot = pins->depth;
        pins->pinned[slot].store(binding, std::memory_order_seq_cst);
        if (usable(binding->state.load(std::memory_order_seq_cst), generation)) {
            pins->depth = slot + 1;
            return {binding, slot};
        }
        pins->pinned[slot].store(nullptr, std::memory_order_seq_cst);
        reclaim(env);  // an unbinding may have seen the pin and left the finishing to us
        return {};
    }
    std::uint64_t state = binding->state.load(std::memory_order_acquire);
    for (;;) {
        if (!usable(state, generation) || (state & kCountMask) == kCountMask) {
            return {};
        }
        if (binding->state.compare_exchange_weak(state, state + 1, std::memory_order_seq_cst,
                                                 std::memory_order_acquire)) {
            return {binding, -1};
        }
    }
}

void release(JNIEnv* env, const Pin& pin) {
    Binding* binding = pin.binding;
    bool dyingNow = false;
    if (pin.slot >= 0) {
        ThreadPins* pins = myPins();
        pins->depth = pin.slot;
        pins->pinned[pin.slot].store(nullptr, std::memory_order_seq_cst);
        dyingNow = (binding->state.load(std::memory_order_seq_cst) & kDying) != 0;
    } else {
        const std::uint64_t old = binding->state.fetch_sub(1, std::memory_order_seq_cst);
        dyingNow = (old & kDying) != 0;
    }
    if (dyingNow) {
        reclaim(env);
    }
}

// Takes the binding out of service (writeLock held); reclaim finishes it once no call holds
// it any more.
void unbindLocked(Binding* binding, bool unloadModuleWhenReleased) {
    binding->unloadWhenReleased = unloadModuleWhenReleased;
    std::uint64_t state = binding->state.load(std::memory_order_relaxed);
    while (!binding->state.compare_exchange_weak(state, (state & ~kBound) | kDying,
                                                 std::memory_order_seq_cst,
                                                 std::memory_order_relaxed)) {
    }
    dying.push_back(binding);  // capacity reserved by the caller
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
    std::uint32_t index = 0;
    Binding* binding = slots.allocate(index);
    if (binding != nullptr) {
        binding->index = index;
    }
    return binding;
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
    slots.recycle(binding->index);
    bindingsAlive.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

bool markLibraryInitialized() { return initialized.exchange(true); }
bool libraryInitialized() { return initialized.load(std::memory_order_acquire); }

void finalizeModuleList(JNIEnv* env) {
    {
        std::lock_guard<std::mutex> guard(writeLock);
        initialized.store(false, std::memory_order_release);
        for (std::uint32_t index = 0; index < slots.size(); ++index) {
            Binding* binding = slotAt(index);
            if ((binding->state.load(std::memory_order_acquire) & kBound) == 0) {
                continue;
            }
            try {
                dying.reserve(dying.size() + 1);
            } catch (const std::bad_alloc&) {
                continue;  // that binding stays bound; nothing is lost
            }
            unbindLocked(binding, false);  // the module stays loaded: its sessions may call back
        }
    }
    reclaim(env);
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
    {
        std::lock_guard<std::mutex> guard(writeLock);
        if (!initialized.load(std::memory_order_relaxed)) {
            throwPKCS11RuntimeException(
                env, "The PKCS#11 library is not initialized: call PKCS11Impl.initializeLibrary() first.");
            return false;
        }
        Binding* binding = nullptr;
        try {
            dying.reserve(dying.size() + 1);  // room for the binding this one may replace
            binding = allocateSlotLocked();
        } catch (const std::bad_alloc&) {
            binding = nullptr;
        }
        if (binding == nullptr) {
            throwOutOfMemory(env, "no room for another module binding");
            return false;
        }
        jobject ref = newGlobalRef(env, object);
        if (ref == nullptr) {
            slots.recycle(binding->index);
            return false;
        }
        if (Binding* replaced = findBoundLocked(env, object)) {
            // Rebinding: the earlier module stays loaded (calls in flight on it finish there).
            unbindLocked(replaced, false);
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
    reclaim(env);
    return true;
}

bool removeModule(JNIEnv* env, jobject object) {
    {
        std::lock_guard<std::mutex> guard(writeLock);
        Binding* binding = findBoundLocked(env, object);
        if (binding == nullptr) {
            return false;
        }
        try {
            dying.reserve(dying.size() + 1);
        } catch (const std::bad_alloc&) {
            throwOutOfMemory(env, "no room to disconnect");
            return false;
        }
        unbindLocked(binding, true);
        env->SetLongField(object, jni::core.pkcs11ImplBindingHandle, 0);
    }
    reclaim(env);  // unloads the module now, or when the last call in flight on it returns
    return true;
}

ModuleCall::ModuleCall(JNIEnv* env, jobject object) : env_(env) {
    if (object != nullptr && jni::cachesReady()) {
        const jlong handle = env->GetLongField(object, jni::core.pkcs11ImplBindingHandle);
        const Pin pin = acquire(env, handle);
        if (pin.binding != nullptr) {
            if (pin.binding->record.functions != nullptr &&
                env->IsSameObject(pin.binding->object, object)) {
                binding_ = pin.binding;
                pinSlot_ = pin.slot;
                functions_ = pin.binding->record.functions;
                return;
            }
            release(env, pin);
        }
    }
    throwNotConnected(env);
}

ModuleCall::~ModuleCall() {
    if (binding_ != nullptr) {
        release(env_, Pin{binding_, pinSlot_});
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
