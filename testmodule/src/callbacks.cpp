// Callbacks into the caller: session notifications and the mutex functions
// of C_Initialize, run on the calling thread or on threads of this module.
// The state lock is never held while a callback runs.
#include "framework.hpp"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <system_error>
#include <utility>

namespace vtm {

namespace {

thread_local bool moduleThread = false;  ///< the calling thread was created by this module

/// Everything a callback run needs, copied under the lock beforehand so that
/// the run itself touches no shared state except the record.
struct Plan {
    std::string fn;
    std::vector<CK_NOTIFICATION> events;
    std::vector<MutexOp> mutex;
    unsigned sleepMs = 0;
    CK_SESSION_HANDLE hSession = 0;
    std::optional<Session> session;  ///< the session to notify, when it is known
    InitArgs args;
    CK_VOID_PTR lastMutex = nullptr;
};

std::string pointerText(const void* p) {
    char buf[2 + 2 * sizeof(void*) + 1];
    std::snprintf(buf, sizeof buf, "0x%" PRIxPTR, reinterpret_cast<std::uintptr_t>(p));
    return buf;
}

/// Appends one `callback` pseudo-call to the record.
void recordCallback(const Plan& plan, const std::string& fields) {
    std::string line = "callback thread=" + std::to_string(threadId()) +
                       " moduleThread=" + (moduleThread ? "1" : "0") + " from=" + plan.fn + ' ' + fields;
    withState([&](State& s) {
        s.record.push_back(std::move(line));
        ++s.counts["callback"];
    });
}

std::string rvText(CK_RV rv) { return "rv=" + std::to_string(rv); }

void runNotify(const Plan& plan) {
    for (CK_NOTIFICATION event : plan.events) {
        const std::string what = "kind=notify hSession=" + std::to_string(plan.hSession) +
                                 " event=" + std::to_string(event);
        if (!plan.session || plan.session->notify == nullptr) {
            recordCallback(plan, what + " skipped=1");
            continue;
        }
        const CK_RV rv = plan.session->notify(plan.hSession, event, plan.session->application);
        recordCallback(plan, what + ' ' + rvText(rv));
    }
}

void runMutex(const Plan& plan) {
    using Kind = MutexOp::Kind;
    static const char* const kinds[] = {"create", "lock", "unlock", "destroy", "loop"};  // as MutexOp::Kind
    static_assert(std::size(kinds) == static_cast<std::size_t>(Kind::Loop) + 1, "one name per MutexOp::Kind");
    CK_VOID_PTR current = plan.lastMutex;
    const InitArgs& a = plan.args;
    for (const MutexOp& op : plan.mutex) {
        const std::string kind = std::string("kind=") + kinds[static_cast<int>(op.kind)];
        // The callback of a lock, unlock or destroy.
        const auto single = op.kind == Kind::Lock ? a.lock : op.kind == Kind::Unlock ? a.unlock : a.destroy;
        const bool missing = op.kind == Kind::Create ? a.create == nullptr
                             : op.kind == Kind::Loop ? a.lock == nullptr || a.unlock == nullptr
                                                     : single == nullptr;
        if (missing) {
            recordCallback(plan, kind + " skipped=1");
        } else if (op.kind == Kind::Create) {
            CK_VOID_PTR handle = nullptr;
            const CK_RV rv = a.create(&handle);
            recordCallback(plan, kind + ' ' + rvText(rv) + " handle=" + pointerText(handle));
            if (rv == CKR_OK) {
                current = handle;
                withState([&](State& s) { s.lastMutex = handle; });
            }
        } else if (op.kind == Kind::Loop) {
            CK_RV first = CKR_OK;
            CK_ULONG failures = 0;
            for (CK_ULONG i = 0; i < op.count; ++i) {
                const CK_RV locked = a.lock(current);
                const CK_RV unlocked = a.unlock(current);
                for (const CK_RV rv : {locked, unlocked}) {
                    if (rv != CKR_OK && failures++ == 0) first = rv;
                }
            }
            recordCallback(plan, kind + " count=" + std::to_string(op.count) + " failures=" +
                                         std::to_string(failures) + ' ' + rvText(first) +
                                         " handle=" + pointerText(current));
        } else {
            const CK_RV rv = single(current);
            recordCallback(plan, kind + ' ' + rvText(rv) + " handle=" + pointerText(current));
        }
    }
}

void runPlan(const Plan& plan) {
    if (plan.sleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(plan.sleepMs));
    runNotify(plan);
    runMutex(plan);
}

}  // namespace

void runCallbacks(const std::string& fn, const Step& step, std::optional<CK_SESSION_HANDLE> session,
                  const std::optional<Session>& sessionData) {
    if (step.notify.empty() && step.mutex.empty() && step.sleepMs == 0) return;

    Plan plan;
    plan.fn = fn;
    plan.events = step.notify;
    plan.mutex = step.mutex;
    plan.sleepMs = step.sleepMs;
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        plan.args = s.initArgs;
        plan.lastMutex = s.lastMutex;
        if (session) {
            plan.hSession = *session;
            if (sessionData) {
                plan.session = sessionData;
            } else if (auto it = s.sessions.find(*session); it != s.sessions.end()) {
                plan.session = it->second;
            } else if (auto old = s.closed.find(*session); step.late && old != s.closed.end()) {
                plan.session = old->second;  // a late notification of a closed session
            }
        }
    }

    if (!step.nativeThread) {
        runPlan(plan);
        return;
    }
    std::vector<std::thread> threads;
    try {
        for (unsigned i = 0; i < step.threads; ++i) {
            threads.emplace_back([plan] {
                moduleThread = true;
                runPlan(plan);
            });
        }
    } catch (const std::system_error&) {
        // Out of threads: run what started, note the rest.
        for (std::thread& t : threads) t.join();
        recordCallback(plan, std::string("kind=error started=") + std::to_string(threads.size()) +
                                 " failed=1");
        return;
    }
    if (step.async) {
        std::lock_guard<std::mutex> lock(s.mutex);
        for (std::thread& t : threads) s.asyncThreads.push_back(std::move(t));
    } else {
        for (std::thread& t : threads) t.join();
    }
}

void joinAsync() {
    std::vector<std::thread> threads;
    withState([&](State& s) { threads.swap(s.asyncThreads); });
    for (std::thread& t : threads) {
        // A callback thread that asks for the join itself cannot wait for itself.
        if (t.get_id() == std::this_thread::get_id()) t.detach();
        else t.join();
    }
}

}  // namespace vtm
