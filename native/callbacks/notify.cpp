#include "callbacks/notify.h"

#include <mutex>
#include <new>

#include "callbacks/callback_cache.h"
#include "callbacks/callback_env.h"
#include "convert/convert.h"
#include "core/jni_util.h"
#include "core/slot_table.h"

namespace vorlen {

namespace {

constexpr std::uint64_t kCountMask = (std::uint64_t{1} << 32) - 1;
constexpr std::uint64_t kLive = std::uint64_t{1} << 32;
constexpr std::uint64_t kDying = std::uint64_t{1} << 33;
constexpr unsigned kGenerationShift = 34;

// A token is (generation << kIndexBits) | (index + 1): never null, and the index part of a
// null-free token fits kIndexBits, the last index being left unused.
constexpr unsigned kIndexBits = 22;
constexpr std::size_t kMaxBindings = (std::size_t{1} << kIndexBits) - 1;
// The generation bits a token carries beside the index: what a pointer has left (10 at 32
// bits), at most what the state word holds (30).
constexpr unsigned kGenerationBits =
    sizeof(std::uintptr_t) * 8 - kIndexBits < 64 - kGenerationShift
        ? static_cast<unsigned>(sizeof(std::uintptr_t) * 8 - kIndexBits)
        : 64 - kGenerationShift;
constexpr std::uint64_t kGenerationMask = (std::uint64_t{1} << kGenerationBits) - 1;

// A released binding is reused only once this many others were released after it.
constexpr std::size_t kQuarantine = 64;

std::uint64_t generationOf(std::uint64_t state) { return state >> kGenerationShift; }

// The table of bindings. Its memory is never returned: a late notification's token always
// names valid memory, whose generation tells whether it is still the session's.
SlotTable<NotifyBinding> table;
static_assert(decltype(table)::kCapacity == std::size_t{1} << kIndexBits);

// Guards NotifyList and the allocation and recycling of table slots. Held for list operations
// alone: no Java code, no module call and no deletion of a global reference under it.
std::mutex notifyListLock;
NotifyBinding* head = nullptr;      // NotifyList, appended at the tail
NotifyBinding* tail = nullptr;
std::uint64_t lastSequence = 0;  // sequence of the latest entry; only grows

NotifyBinding* allocateLocked() {
    // The oldest released binding, once enough were released after it; a new one otherwise.
    std::uint32_t index = 0;
    NotifyBinding* binding = table.allocate(index, kQuarantine, kMaxBindings);
    if (binding != nullptr) {
        binding->index = index;
        binding->next = nullptr;
    }
    return binding;
}

// The binding a token names, and the generation the token carries; null for a pointer that
// is no token of the table: a module that hands back anything else as pApplication gets no
// call into Java.
NotifyBinding* bindingAt(const void* pointer, std::uint64_t& generation) {
    const auto token = reinterpret_cast<std::uintptr_t>(pointer);
    const std::uintptr_t place = token & ((std::uintptr_t{1} << kIndexBits) - 1);
    generation = static_cast<std::uint64_t>(token >> kIndexBits);
    if (place == 0 || generation > kGenerationMask) {
        return nullptr;
    }
    return table.at(place - 1);
}

// Deletes the references and queues the binding for reuse, keeping its generation. Only one
// thread gets here for a given release: the one that found it not live and with no
// notification running.
void recycle(JNIEnv* env, NotifyBinding* binding) {
    jobject notify = binding->notify;
    jobject application = binding->application;
    binding->notify = nullptr;
    binding->application = nullptr;
    deleteGlobalRef(env, notify);
    deleteGlobalRef(env, application);
    std::lock_guard<std::mutex> guard(notifyListLock);
    binding->module = nullptr;
    binding->sessionKnown.store(false, std::memory_order_relaxed);
    const std::uint64_t generation = generationOf(binding->state.load(std::memory_order_relaxed));
    binding->state.store(generation << kGenerationShift, std::memory_order_release);
    binding->next = nullptr;
    table.recycle(binding->index);
}

// Pins a live binding of the given generation for one notification.
bool pin(NotifyBinding* binding, std::uint64_t generation) {
    std::uint64_t state = binding->state.load(std::memory_order_acquire);
    for (;;) {
        if ((state & kLive) == 0 || generationOf(state) != generation ||
            (state & kCountMask) == kCountMask) {
            return false;
        }
        if (binding->state.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                                 std::memory_order_acquire)) {
            return true;
        }
    }
}

void unpin(JNIEnv* env, NotifyBinding* binding) {
    const std::uint64_t old = binding->state.fetch_sub(1, std::memory_order_acq_rel);
    if ((old & kCountMask) == 1 && (old & kDying) != 0) {
        recycle(env, binding);
    }
}

// Unlinks and returns the first entry that `matches`, or null (notifyListLock held).
template <typename Matches>
NotifyBinding* takeFirstLocked(Matches matches) {
    NotifyBinding* previous = nullptr;
    for (NotifyBinding* entry = head; entry != nullptr; previous = entry, entry = entry->next) {
        if (!matches(*entry)) {
            continue;
        }
        (previous != nullptr ? previous->next : head) = entry->next;
        if (tail == entry) {
            tail = previous;
        }
        entry->next = nullptr;
        return entry;
    }
    return nullptr;
}

template <typename Matches>
NotifyBinding* takeFirst(Matches matches) {
    std::lock_guard<std::mutex> guard(notifyListLock);
    return takeFirstLocked(matches);
}

}  // namespace

NotifyBinding* newNotifyBinding(JNIEnv* env, jobject notify, jobject application) {
    NotifyBinding* binding = nullptr;
    {
        std::lock_guard<std::mutex> guard(notifyListLock);
        binding = allocateLocked();
    }
    if (binding == nullptr) {
        throwOutOfMemory(env, "no room for the notification objects of a session");
        return nullptr;
    }
    if (application != nullptr) {
        binding->application = newGlobalRef(env, application);
        if (binding->application == nullptr) {
            recycle(env, binding);
            return nullptr;
        }
    }
    binding->notify = newGlobalRef(env, notify);
    if (binding->notify == nullptr) {
        recycle(env, binding);
        return nullptr;
    }
    // A new generation (never 0): the tokens of the binding's earlier sessions stop matching.
    std::uint64_t generation =
        (generationOf(binding->state.load(std::memory_order_relaxed)) + 1) & kGenerationMask;
    if (generation == 0) {
        generation = 1;
    }
    binding->state.store(kLive | (generation << kGenerationShift), std::memory_order_release);
    return binding;
}

CK_VOID_PTR notifyToken(const NotifyBinding* binding) {
    const std::uint64_t generation = generationOf(binding->state.load(std::memory_order_acquire));
    const std::uintptr_t token = (static_cast<std::uintptr_t>(generation) << kIndexBits) |
                                 (static_cast<std::uintptr_t>(binding->index) + 1);
    return reinterpret_cast<CK_VOID_PTR>(token);
}

void releaseNotifyBinding(JNIEnv* env, NotifyBinding* binding) {
    if (binding == nullptr) {
        return;
    }
    std::uint64_t state = binding->state.load(std::memory_order_relaxed);
    while (!binding->state.compare_exchange_weak(state, (state & ~kLive) | kDying,
                                                 std::memory_order_acq_rel,
                                                 std::memory_order_relaxed)) {
    }
    if ((state & kCountMask) == 0) {
        recycle(env, binding);  // otherwise the notification that runs now recycles it
    }
}

void putNotify(const void* module, CK_SLOT_ID slot, CK_SESSION_HANDLE session,
               NotifyBinding* binding) {
    if (binding == nullptr) {
        return;
    }
    binding->module = module;
    binding->slot = slot;
    binding->session.store(session, std::memory_order_relaxed);
    binding->sessionKnown.store(true, std::memory_order_release);
    binding->next = nullptr;
    std::lock_guard<std::mutex> guard(notifyListLock);
    binding->sequence = ++lastSequence;
    (tail != nullptr ? tail->next : head) = binding;
    tail = binding;
}

std::uint64_t notifyListMark() {
    std::lock_guard<std::mutex> guard(notifyListLock);
    return lastSequence;
}

NotifyBinding* removeNotify(const void* module, CK_SESSION_HANDLE session, std::uint64_t mark) {
    return takeFirst([&](const NotifyBinding& entry) {
        return entry.module == module && entry.session.load(std::memory_order_relaxed) == session &&
               entry.sequence <= mark;
    });
}

NotifyBinding* popNotify(const void* module, CK_SLOT_ID slot, std::uint64_t mark) {
    return takeFirst([&](const NotifyBinding& entry) {
        return entry.module == module && entry.slot == slot && entry.sequence <= mark;
    });
}

NotifyBinding* popNotify(const void* module, std::uint64_t mark) {
    return takeFirst(
        [&](const NotifyBinding& entry) { return entry.module == module && entry.sequence <= mark; });
}

NotifyBinding* popNotify(const void* module) {
    return takeFirst([&](const NotifyBinding& entry) { return entry.module == module; });
}

CK_RV PKCS11_CALL notifyCallback(CK_SESSION_HANDLE hSession, CK_NOTIFICATION event,
                                 CK_VOID_PTR pApplication) {
    if (pApplication == nullptr) {
        return CKR_OK;
    }
    std::uint64_t generation = 0;
    NotifyBinding* binding = bindingAt(pApplication, generation);
    if (binding == nullptr) {
        return CKR_ARGUMENTS_BAD;  // not a binding the library gave out
    }
    CallbackEnv callback;
    if (!callback) {
        return kCallbackUnreachable;
    }
    // A session that was closed (the module still notifies it), or a recycled binding that
    // now serves another session under a new generation: nobody listens any more.
    if (!pin(binding, generation)) {
        return CKR_OK;
    }
    CK_RV rv = CKR_OK;
    if (!binding->sessionKnown.load(std::memory_order_acquire) ||
        binding->session.load(std::memory_order_relaxed) == hSession) {
        callback.env()->CallVoidMethod(binding->notify, jni::callbacks.notifyMethod,
                                       javaLong(hSession), javaLong(event), binding->application);
        rv = callback.pendingErrorCode();
    }
    unpin(callback.env(), binding);
    return rv;
}

}  // namespace vorlen
