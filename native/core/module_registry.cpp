// The registry of the module bindings: which binding slot each PKCS11Impl object is bound to, binding,
// unbinding, and finishing bindings once no call holds them.
#include <atomic>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "core/module_internal.h"
#include "core/exceptions.h"
#include "core/jni_cache.h"
#include "core/jni_util.h"
#include "core/modules.h"
#include "core/slot_table.h"

namespace vorlen {

using namespace binding;

namespace {

// Room for four million bindings.
SlotTable<Binding> slots;

// Guards the writers of the bindings: slot allocation, binding and unbinding. Readers (calls)
// never take it. No Java code runs while it is held.
std::mutex writeLock;
std::atomic<bool> initialized{false};

jlong handleOf(const Binding* binding) {
    const std::uint64_t generation = generationOf(binding->state.load(std::memory_order_relaxed));
    return static_cast<jlong>((std::uint64_t{generation} << kGenerationShift) |
                              (std::uint64_t{binding->index} + 1));
}

Binding* slotAt(std::uint64_t index) { return slots.at(index); }

// Bindings taken out of service whose calls may still be in flight (writeLock held).
std::vector<Binding*> dying;

void finishUnbinding(JNIEnv* env, Binding* binding);

}  // namespace

Binding* binding::slotOf(jlong handle) {
    const std::uint64_t low = static_cast<std::uint64_t>(handle) & 0xFFFFFFFFu;
    return low != 0 ? slotAt(low - 1) : nullptr;
}

void binding::reclaim(JNIEnv* env) {
    // One binding at a time, taken out of the list under the lock and finished outside it:
    // nothing is allocated, so no binding waits for a later reclaim for want of memory.
    for (;;) {
        Binding* finished = nullptr;
        {
            std::lock_guard<std::mutex> guard(writeLock);
            for (auto it = dying.begin(); it != dying.end(); ++it) {
                if (((*it)->state.load(std::memory_order_seq_cst) & kCountMask) == 0 &&
                    !pinnedAnywhere(*it)) {
                    finished = *it;
                    dying.erase(it);
                    break;
                }
            }
        }
        if (finished == nullptr) {
            return;
        }
        finishUnbinding(env, finished);
    }
}

namespace {

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
    Binding* binding = slotOf(handle);
    if (binding == nullptr) {
        return nullptr;
    }
    const std::uint64_t state = binding->state.load(std::memory_order_acquire);
    if (!usable(state, generationOf(static_cast<std::uint64_t>(handle))) ||
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
    const ModuleRecord record = std::move(binding->record);
    const bool unload = binding->unloadWhenReleased;
    binding->object = nullptr;
    binding->record = ModuleRecord{};
    binding->gate.store(nullptr, std::memory_order_relaxed);
    deleteGlobalRef(env, object);
    if (unload) {
        unloadModule(env, record.library);
    }
    std::lock_guard<std::mutex> guard(writeLock);
    const std::uint64_t state = binding->state.load(std::memory_order_relaxed);
    binding->state.store(std::uint64_t{generationOf(state) + 1u} << kGenerationShift,
                         std::memory_order_release);
    slots.recycle(binding->index);
}

}  // namespace

bool markLibraryInitialized() { return initialized.exchange(true); }
bool libraryInitialized() { return initialized.load(std::memory_order_acquire); }

void finalizeBindings(JNIEnv* env) {
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

PutModule putModule(JNIEnv* env, jobject object, ModuleRecord& record) {
    ModuleGate* gate = gateOf(record.library);
    {
        std::lock_guard<std::mutex> guard(writeLock);
        if (!initialized.load(std::memory_order_relaxed)) {
            throwPKCS11RuntimeException(
                env, "The PKCS#11 library is not initialized: call PKCS11Impl.initializeLibrary() first.");
            return PutModule::failed;
        }
        Binding* replaced = findBoundLocked(env, object);
        if (record.functions == nullptr && replaced != nullptr &&
            replaced->record.functions != nullptr) {
            return PutModule::keptEarlier;  // a connect that got no list spoils no working binding
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
            return PutModule::failed;
        }
        jobject ref = newGlobalRef(env, object);
        if (ref == nullptr) {
            slots.recycle(binding->index);
            return PutModule::failed;
        }
        binding->object = ref;
        binding->record = std::move(record);
        binding->gate.store(gate, std::memory_order_relaxed);
        binding->unloadWhenReleased = false;
        const std::uint64_t generation =
            generationOf(binding->state.load(std::memory_order_relaxed));
        binding->state.store((std::uint64_t{generation} << kGenerationShift) | kBound,
                             std::memory_order_seq_cst);
        // Rebinding is one step for a concurrent call: the new binding is usable and the
        // object names it before the earlier one is taken out of service. A call that read the
        // earlier handle either pins the earlier binding (its module stays loaded, so the call
        // finishes there) or finds it unbound and, reading the handle again, the new one.
        env->SetLongField(object, jni::core.pkcs11ImplBindingHandle, handleOf(binding));
        if (replaced != nullptr) {
            unbindLocked(replaced, false);
        }
    }
    reclaim(env);
    closeDeferredModules(env);
    return PutModule::bound;
}

bool removeModule(JNIEnv* env, jobject object) {
    closeDeferredModules(env);
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
    closeDeferredModules(env);
    return true;
}

}  // namespace vorlen
