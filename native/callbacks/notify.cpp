#include "callbacks/notify.h"

#include <mutex>

#include "callbacks/callback_cache.h"
#include "callbacks/callback_env.h"
#include "convert/convert.h"
#include "core/jni_util.h"

namespace vorlen {

namespace {

// NotifyList: a singly linked list through NotifyBinding::next, appended at the tail. The lock
// is held for the list operation alone: no Java code, no module call and no deletion of a
// global reference happens under it.
std::mutex notifyListLock;
NotifyBinding* head = nullptr;
NotifyBinding* tail = nullptr;
std::uint64_t lastSequence = 0;  // sequence of the latest entry; only grows

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
    auto* binding = static_cast<NotifyBinding*>(heapAlloc(sizeof(NotifyBinding)));
    if (binding == nullptr) {
        throwOutOfMemory(env, "no room for the notification objects of a session");
        return nullptr;
    }
    *binding = NotifyBinding{nullptr, nullptr, nullptr, 0, 0, 0, nullptr};
    if (application != nullptr) {
        binding->application = newGlobalRef(env, application);
        if (binding->application == nullptr) {
            releaseNotifyBinding(env, binding);
            return nullptr;
        }
    }
    binding->notify = newGlobalRef(env, notify);
    if (binding->notify == nullptr) {
        releaseNotifyBinding(env, binding);
        return nullptr;
    }
    return binding;
}

void releaseNotifyBinding(JNIEnv* env, NotifyBinding* binding) {
    if (binding == nullptr) {
        return;
    }
    deleteGlobalRef(env, binding->notify);
    deleteGlobalRef(env, binding->application);
    heapFree(binding);
}

void putNotify(const void* module, CK_SLOT_ID slot, CK_SESSION_HANDLE session,
               NotifyBinding* binding) {
    if (binding == nullptr) {
        return;
    }
    binding->module = module;
    binding->slot = slot;
    binding->session = session;
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
        return entry.module == module && entry.session == session && entry.sequence <= mark;
    });
}

NotifyBinding* popNotify(const void* module, CK_SLOT_ID slot, std::uint64_t mark) {
    return takeFirst([&](const NotifyBinding& entry) {
        return entry.module == module && entry.slot == slot && entry.sequence <= mark;
    });
}

NotifyBinding* popNotify(const void* module) {
    return takeFirst([&](const NotifyBinding& entry) { return entry.module == module; });
}

CK_RV PKCS11_CALL notifyCallback(CK_SESSION_HANDLE hSession, CK_NOTIFICATION event,
                                 CK_VOID_PTR pApplication) {
    if (pApplication == nullptr) {
        return CKR_OK;
    }
    const auto* binding = static_cast<const NotifyBinding*>(pApplication);
    CallbackEnv callback;
    if (!callback) {
        return kCallbackUnreachable;
    }
    callback.env()->CallVoidMethod(binding->notify, jni::callbacks.notifyMethod, javaLong(hSession),
                                   javaLong(event), binding->application);
    return callback.pendingErrorCode();
}

}  // namespace vorlen
