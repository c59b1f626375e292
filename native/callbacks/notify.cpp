#include "callbacks/notify.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

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

// Room for four million bindings.
constexpr unsigned kIndexBits = 22;
constexpr std::size_t kMaxBindings = (std::size_t{1} << kIndexBits) - 1;

// A released binding is reused only once this many others were released after it.
constexpr std::size_t kQuarantine = 64;

// The table of bindings. Its memory is never returned: a notification that pinned a binding
// always holds valid memory.
SlotTable<NotifyBinding> table;
static_assert(decltype(table)::kCapacity == std::size_t{1} << kIndexBits);

// Guards NotifyList and the allocation and recycling of table slots. Held for list operations
// alone: no Java code, no module call and no deletion of a global reference under it.
std::mutex notifyListLock;
NotifyBinding* head = nullptr;      // NotifyList, appended at the tail
NotifyBinding* tail = nullptr;
std::uint64_t lastSequence = 0;  // sequence of the latest entry; only grows

// The tokens of the live bindings (notifyListLock). A token is a number counted up from 1 for
// every session that gets a binding, as wide as a pointer: it comes round again only after
// 2^32 such sessions at 32 bits (2^64 at 64), and even then not while its value is still live.
std::unordered_map<std::uintptr_t, NotifyBinding*> liveTokens;
std::atomic<std::uintptr_t> lastToken{0};  // written under notifyListLock

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

// Deletes the references and queues the binding for reuse. Only one thread gets here for a
// given release: the one that found it not live and with no notification running.
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
    binding->token = 0;
    binding->state.store(0, std::memory_order_release);
    binding->next = nullptr;
    table.recycle(binding->index);
}

// Pins the live binding of `token` for one notification; null when no live binding has it.
NotifyBinding* pinToken(std::uintptr_t token) {
    std::lock_guard<std::mutex> guard(notifyListLock);
    auto found = liveTokens.find(token);
    if (found == liveTokens.end()) {
        return nullptr;
    }
    NotifyBinding* binding = found->second;
    std::uint64_t state = binding->state.load(std::memory_order_acquire);
    for (;;) {
        if ((state & kLive) == 0 || (state & kCountMask) == kCountMask) {
            return nullptr;
        }
        if (binding->state.compare_exchange_weak(state, state + 1, std::memory_order_acquire,
                                                 std::memory_order_acquire)) {
            return binding;
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
    // A token never given before (within 2^32 sessions at 32 bits): the tokens of the binding's
    // earlier sessions stay unknown.
    {
        std::lock_guard<std::mutex> guard(notifyListLock);
        std::uintptr_t token = lastToken.load(std::memory_order_relaxed);
        do {
            ++token;
        } while (token == 0 || liveTokens.count(token) != 0);
        try {
            liveTokens.emplace(token, binding);
        } catch (const std::bad_alloc&) {
            token = 0;
        }
        if (token != 0) {
            lastToken.store(token, std::memory_order_release);
            binding->token = token;
            binding->state.store(kLive, std::memory_order_release);
        }
    }
    if (binding->token == 0) {
        recycle(env, binding);
        throwOutOfMemory(env, "no room for the notification objects of a session");
        return nullptr;
    }
    return binding;
}

CK_VOID_PTR notifyToken(const NotifyBinding* binding) {
    return reinterpret_cast<CK_VOID_PTR>(binding->token);
}

void releaseNotifyBinding(JNIEnv* env, NotifyBinding* binding) {
    if (binding == nullptr) {
        return;
    }
    {
        // From now on the token finds nothing: a late notification is dropped.
        std::lock_guard<std::mutex> guard(notifyListLock);
        liveTokens.erase(binding->token);
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
    const auto token = reinterpret_cast<std::uintptr_t>(pApplication);
    if (token > lastToken.load(std::memory_order_acquire)) {
        return CKR_ARGUMENTS_BAD;  // not a token the library gave out
    }
    CallbackEnv callback;
    if (!callback) {
        return kCallbackUnreachable;
    }
    // A session that was closed (the module still notifies it): nobody listens any more.
    NotifyBinding* binding = pinToken(token);
    if (binding == nullptr) {
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
