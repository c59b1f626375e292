// Calls in flight: every call into a module pins its binding for the length of the call.
//
// A call announces the binding it uses in a pin of its own thread (a few nested calls deep:
// a callback may call into another object), so that threads calling at once never write to a
// shared cache line. Only when a thread runs out of pins does a call count itself in the
// binding's state word instead. Unbinding marks the binding dying; it is finished (its module
// unloaded, its slot recycled) once no pin holds it and its count is zero. Pinning and
// unbinding follow the store-then-load pattern on both sides (sequentially consistent), so
// either the call sees the binding dying and lets go, or the unbinding sees the pin and leaves
// the finishing to the call's release.
//
// C_Initialize and C_Finalize are exclusive calls of their module file: they close its gate,
// wait until no other thread's pin (unless marked unwaited) holds a binding of that module,
// and open the gate when they return; an ordinary call reads the gate after its pin and is
// refused while it is closed. The same store-then-load pattern makes either side see the other.
//
// Where the system has an asymmetric barrier (Linux's membarrier), the calls' side of that
// pattern costs no fence: a call publishes its pin with a compiler-only fence, and the rare side
// (a reclaim or an exclusive call, before it reads the pins) makes every running thread of the
// process execute a full fence. Between the rare side's store and its reading of the pins, each
// calling thread has then either been off the processor or fenced, so its pin is visible or its
// later load sees the rare side's store, as with a fence on both sides.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <new>
#include <thread>

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "core/module_internal.h"
#include "core/exceptions.h"
#include "core/jni_cache.h"
#include "core/modules.h"

namespace vorlen {

using namespace binding;

constexpr int kPinDepth = 8;

struct ThreadPins {
    std::array<std::atomic<Binding*>, kPinDepth> pinned{};
    int depth = 0;                  // used by the owning thread only
    // The handle of the binding that served the thread's last call found by its field (0:
    // none), used by the owning thread only. Kept here, beside the pins every call reads, so
    // that a call looks up no other thread-local variable for it.
    jlong lastHandle = 0;
    std::atomic<bool> inUse{true};  // a record whose thread ended is reused by a new thread
    ThreadPins* next = nullptr;     // fixed once the record is published
};

namespace {

std::atomic<ThreadPins*> allPins{nullptr};

// Decided once, when the library is loaded and before any call: both sides must agree.
bool registerAsymmetricBarrier() {
#if defined(__linux__) && defined(__NR_membarrier)
    const long commands = syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
    if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) {
        return false;
    }
    return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
#else
    return false;
#endif
}

const bool asymmetricBarrier = registerAsymmetricBarrier();

// A pin's store, ordered before the loads that follow it (see the file's comment).
inline void publishPin(std::atomic<Binding*>& pin, Binding* value) {
    if (asymmetricBarrier) {
        pin.store(value, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
    } else {
        pin.store(value, std::memory_order_seq_cst);
    }
}

}  // namespace

// The rare side's fence, between its store (the binding dying, the gate closed) and its reading
// of the pins.
static void fenceBeforeReadingPins() {
#if defined(__linux__) && defined(__NR_membarrier)
    if (asymmetricBarrier && syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) != 0) {
        std::abort();  // registered, so it cannot fail; reading the pins unordered would be worse
    }
#endif
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

namespace {

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

// The calling thread's pins: a plain pointer read on every call (a thread_local without a
// destructor needs no initialisation check), and an owner, made at the thread's first call, that
// gives the record back when the thread ends.
thread_local ThreadPins* pinsOfThread = nullptr;

struct PinsOfThisThread {
    ThreadPins* pins = nullptr;
    ~PinsOfThisThread() {
        if (pins != nullptr) {
            pinsOfThread = nullptr;
            pins->depth = 0;
            pins->lastHandle = 0;
            pins->inUse.store(false, std::memory_order_release);
        }
    }
};

ThreadPins* claimPinsOfThisThread() {
    thread_local PinsOfThisThread owner;
    if (owner.pins == nullptr) {
        owner.pins = claimPins();
    }
    pinsOfThread = owner.pins;
    return owner.pins;
}

inline ThreadPins* myPins() {
    ThreadPins* pins = pinsOfThread;
    return pins != nullptr ? pins : claimPinsOfThisThread();
}

struct Pin {
    Binding* binding = nullptr;
    int slot = -1;  // index in the thread's pins, or -1 when counted in the state word
    ThreadPins* pins = nullptr;  // the thread's pins when slot >= 0
};

// A pin that C_Initialize and C_Finalize do not wait for (the call's own kind): its binding
// stays pinned all the same.
constexpr std::uintptr_t kUnwaitedTag = 1;
static_assert(alignof(Binding) > kUnwaitedTag);

inline Binding* pinned(Binding* stored) {
    return reinterpret_cast<Binding*>(reinterpret_cast<std::uintptr_t>(stored) & ~kUnwaitedTag);
}

// Pins the binding named by `handle` if it is bound, in `pins` (the calling thread's, from
// myPins) when it has room; the caller then checks identity.
Pin acquire(JNIEnv* env, jlong handle, bool waitedFor, ThreadPins* pins) {
    Binding* binding = slotOf(handle);
    if (binding == nullptr) {
        return {};
    }
    const std::uint32_t generation = generationOf(static_cast<std::uint64_t>(handle));
    if (!usable(binding->state.load(std::memory_order_acquire), generation)) {
        return {};
    }
    if (pins != nullptr && pins->depth < kPinDepth) {
        const int slot = pins->depth;
        Binding* stored = waitedFor ? binding
                                    : reinterpret_cast<Binding*>(
                                          reinterpret_cast<std::uintptr_t>(binding) | kUnwaitedTag);
        publishPin(pins->pinned[slot], stored);
        if (usable(binding->state.load(std::memory_order_seq_cst), generation)) {
            pins->depth = slot + 1;
            return {binding, slot, pins};
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
        ThreadPins* pins = pin.pins;
        pins->depth = pin.slot;
        publishPin(pins->pinned[pin.slot], nullptr);
        dyingNow = (binding->state.load(std::memory_order_seq_cst) & kDying) != 0;
    } else {
        const std::uint64_t old = binding->state.fetch_sub(1, std::memory_order_seq_cst);
        dyingNow = (old & kDying) != 0;
    }
    if (dyingNow) {
        reclaim(env);
    }
}

}  // namespace

bool binding::pinnedAnywhere(const Binding* binding) {
    fenceBeforeReadingPins();
    for (ThreadPins* p = allPins.load(std::memory_order_acquire); p != nullptr; p = p->next) {
        for (const std::atomic<Binding*>& pin : p->pinned) {
            if (pinned(pin.load(std::memory_order_seq_cst)) == binding) {
                return true;
            }
        }
    }
    return false;
}

// Ordinary calls counted in a state word rather than in a pin, on this thread (innermost
// first): an exclusive call does not wait for those of its own thread.
static thread_local ModuleCall* countedCallsHere = nullptr;

namespace {

void backOff(unsigned round) {
    if (round < 64) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(round < 200 ? 50 : 500));
    }
}

}  // namespace

bool ModuleCall::ownCallOn(const ModuleGate* gate) const {
    if (ThreadPins* pins = pinsOfThread) {
        for (int slot = 0; slot < pins->depth; ++slot) {
            Binding* stored = pins->pinned[slot].load(std::memory_order_relaxed);
            if (stored != nullptr && stored == pinned(stored) &&
                stored->gate.load(std::memory_order_relaxed) == gate) {
                return true;
            }
        }
    }
    for (const ModuleCall* call = countedCallsHere; call != nullptr; call = call->outerCounted_) {
        if (call->gate_ == gate) {
            return true;
        }
    }
    return false;
}

// Reads the pins without a fence of its own: enterAlone fences once, after closing the gate.
bool ModuleCall::othersInside(const ModuleGate* gate) const {
    const ThreadPins* mine = pinsOfThread;
    for (ThreadPins* p = allPins.load(std::memory_order_acquire); p != nullptr; p = p->next) {
        if (p == mine) {
            continue;  // never wait for a call of this very thread
        }
        for (const std::atomic<Binding*>& pin : p->pinned) {
            Binding* stored = pin.load(std::memory_order_seq_cst);
            if (stored != nullptr && stored == pinned(stored) &&
                stored->gate.load(std::memory_order_relaxed) == gate) {
                return true;
            }
        }
    }
    std::int64_t own = 0;
    for (const ModuleCall* call = countedCallsHere; call != nullptr; call = call->outerCounted_) {
        own += call->gate_ == gate ? 1 : 0;
    }
    return gate->counted.load(std::memory_order_seq_cst) > own;
}

bool ModuleCall::enterAlone() {
    // Inside a callback, the calls in flight may be waiting for this very callback (a module
    // that joins the thread it notifies on): an exclusive call there waits for nothing.
    const bool inCallback = callbackRunsHere();
    for (unsigned round = 0;; ++round) {
        std::uint32_t open = 0;
        if (gate_->closed.compare_exchange_strong(open, 1, std::memory_order_seq_cst)) {
            break;
        }
        // Another C_Initialize or C_Finalize has the module. It may be waiting for a call of
        // this thread: never wait for it then.
        if (inCallback || ownCallOn(gate_)) {
            return false;
        }
        backOff(round);
    }
    alone_ = true;
    // One fence after closing the gate, not one per pass: a call that pins after it sees the
    // gate closed and lets go, so later passes only wait for the pins seen to be cleared.
    fenceBeforeReadingPins();
    for (unsigned round = 0; !inCallback && othersInside(gate_); ++round) {
        backOff(round);
    }
    return true;
}

ModuleCall::ModuleCall(JNIEnv* env, jobject object) : ModuleCall(env, object, CallKind::ordinary) {}

ModuleCall::ModuleCall(JNIEnv* env, jobject object, CallKind kind) : env_(env) {
    // Entered from Java, so no exception is pending: from here on, only a callback can leave
    // one (see callbackRanHere).
    callbackRanHere = false;
    // `object` is the receiver of a native method of the library's class, whose
    // initialisation loaded the caches.
    const bool waitedFor = kind == CallKind::ordinary;
    ThreadPins* const pins = myPins();
    // Serves the call through a pinned binding when its global reference is this very object;
    // true when the call is settled (entered, or refused by the module's gate). Otherwise the
    // pin is let go.
    const auto serve = [&](const Pin& pin) {
        if (pin.binding->record.functions == nullptr || !env->IsSameObject(pin.binding->object, object)) {
            release(env, pin);
            return false;
        }
        // Every bound binding has its module's gate (putModule; loadModule gives each one).
        ModuleGate* gate = pin.binding->gate.load(std::memory_order_relaxed);
        binding_ = pin.binding;
        pinSlot_ = pin.slot;
        pins_ = pin.pins;
        gate_ = gate;
        if (pin.slot < 0 && waitedFor) {
            gate->counted.fetch_add(1, std::memory_order_seq_cst);
            outerCounted_ = countedCallsHere;
            countedCallsHere = this;
            counted_ = true;
        }
        // A C_Initialize or C_Finalize runs on the module: no other call enters until it has
        // returned (store-then-load against its scan of the pins).
        const bool refused = kind == CallKind::exclusive ? !enterAlone()
                                                         : gate->closed.load(std::memory_order_seq_cst) != 0;
        if (!refused) {
            functions_ = pin.binding->record.functions.get();
            return true;
        }
        leave();
        binding_ = nullptr;
        checkReturnValue(env, CKR_CRYPTOKI_NOT_INITIALIZED);
        return true;
    };
    // The binding of this thread's last call (ThreadPins::lastHandle), tried first: it serves
    // only when its global reference is this object, so a run of calls on one object makes one
    // JNI call for both the look-up and the identity check, not a GetLongField as well. A
    // handle no longer bound (disconnected, rebound, its slot reused under a new generation)
    // pins nothing.
    if (const jlong cached = pins != nullptr ? pins->lastHandle : 0; cached != 0) {
        const Pin pin = acquire(env, cached, waitedFor, pins);
        if (pin.binding != nullptr) {
            if (serve(pin)) {
                return;
            }
        } else {
            pins->lastHandle = 0;
        }
    }
    jlong handle = env->GetLongField(object, jni::core.pkcs11ImplBindingHandle);
    for (;;) {
        const Pin pin = acquire(env, handle, waitedFor, pins);
        if (pin.binding != nullptr && serve(pin)) {
            if (pins != nullptr) {
                pins->lastHandle = handle;
            }
            return;
        }
        // A rebinding stores the new handle before it unbinds the earlier binding: when the
        // handle read has gone, the object's handle names its new binding.
        const jlong again = env->GetLongField(object, jni::core.pkcs11ImplBindingHandle);
        if (again == handle) {
            break;
        }
        handle = again;
    }
    throwNotConnected(env);
}

void ModuleCall::leave() {
    if (alone_) {
        gate_->closed.store(0, std::memory_order_seq_cst);
        alone_ = false;
    }
    if (counted_) {
        countedCallsHere = outerCounted_;
        gate_->counted.fetch_sub(1, std::memory_order_seq_cst);
        counted_ = false;
    }
    release(env_, Pin{binding_, pinSlot_, pins_});
}

ModuleCall::~ModuleCall() {
    if (binding_ != nullptr) {
        leave();
    }
    closeDeferredModules(env_);
}

const ModuleListInfo& ModuleCall::list() const { return binding_->record.list; }

// Called on an entered call, like list().
const void* ModuleCall::module() const { return binding_->record.library; }

}  // namespace vorlen
