// Loading and unloading module files, with the count of the library's uses of each, and the
// holds of callbacks that keep every module file loaded while they run.
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/module_internal.h"
#include "core/modules.h"

namespace vorlen {

namespace {

// Guards loading and unloading of module files together with the count of uses per module,
// so that "the library no longer uses this module" is decided exactly once.
std::mutex loaderLock;
struct ModuleUse {
    std::int64_t uses = 0;
    ModuleGate* gate = nullptr;
};
std::unordered_map<platform::LibraryHandle, ModuleUse> moduleUses;
// Gates of unloaded modules, reused for the next module loaded (loaderLock).
ModuleGate* freeGates = nullptr;

ModuleGate* takeGateLocked() {
    if (ModuleGate* gate = freeGates) {
        freeGates = gate->nextFree;
        gate->nextFree = nullptr;
        return gate;
    }
    return new (std::nothrow) ModuleGate;
}

// Every module loaded has a gate (loadModule refuses a load without one).
void giveBackGateLocked(ModuleGate* gate) {
    gate->closed.store(0, std::memory_order_relaxed);
    gate->counted.store(0, std::memory_order_relaxed);
    gate->nextFree = freeGates;
    freeGates = gate;
}

std::atomic<ModuleReleasedHook> moduleReleased{nullptr};

// Callbacks from modules running now, on any thread. While there is one, no module file is
// closed: the callback's thread returns into the module that called it, and the library cannot
// tell which module a mutex callback comes from.
std::atomic<std::int64_t> callbacksRunning{0};
// Modules the library no longer uses whose file could not be closed because a callback was
// running (loaderLock); closed by closeDeferredModules.
std::vector<platform::LibraryHandle> deferredCloses;
std::atomic<bool> closesDeferred{false};

// Closes a module the library no longer uses (loaderLock held). When it is in use again (a
// connect loaded the same file while its close waited), only the loader's count is given back.
void closeModuleLocked(JNIEnv* env, platform::LibraryHandle library) {
    platform::closeLibrary(library);
    if (moduleUses.count(library) != 0) {
        return;
    }
    releaseKeptBlock(library);
    // Set by initializeLibrary, before any module could be loaded.
    moduleReleased.load(std::memory_order_acquire)(env, library);
}

}  // namespace

namespace {
thread_local int holdsHere = 0;
}  // namespace

ModuleHold::ModuleHold() {
    ++holdsHere;
    callbacksRunning.fetch_add(1, std::memory_order_seq_cst);
}

ModuleHold::~ModuleHold() {
    callbacksRunning.fetch_sub(1, std::memory_order_seq_cst);
    --holdsHere;
}

bool callbackRunsHere() { return holdsHere != 0; }

void closeDeferredModules(JNIEnv* env) {
    if (!closesDeferred.load(std::memory_order_acquire)) {
        return;
    }
    std::lock_guard<std::mutex> guard(loaderLock);
    if (callbacksRunning.load(std::memory_order_seq_cst) != 0) {
        return;  // a later call closes them
    }
    std::vector<platform::LibraryHandle> closing = std::move(deferredCloses);
    deferredCloses.clear();
    closesDeferred.store(false, std::memory_order_release);
    for (platform::LibraryHandle library : closing) {
        closeModuleLocked(env, library);
    }
}

ModuleGate* gateOf(platform::LibraryHandle library) {
    std::lock_guard<std::mutex> guard(loaderLock);
    return moduleUses.find(library)->second.gate;  // loaded through loadModule: there
}

void setModuleReleasedHook(ModuleReleasedHook hook) {
    moduleReleased.store(hook, std::memory_order_release);
}

platform::LibraryHandle loadModule(const char* path, std::string& error) {
    std::lock_guard<std::mutex> guard(loaderLock);
    platform::LibraryHandle library = platform::openLibrary(path, error);
    if (library != nullptr) {
        try {
            ModuleUse& use = moduleUses[library];
            if (use.gate == nullptr) {
                use.gate = takeGateLocked();
            }
            if (use.gate == nullptr) {
                if (use.uses == 0) {
                    moduleUses.erase(library);
                }
                throw std::bad_alloc();
            }
            ++use.uses;
        } catch (const std::bad_alloc&) {
            platform::closeLibrary(library);
            error.clear();  // no memory: as when the loader's text could not be kept
            return nullptr;
        }
    }
    return library;
}

void unloadModule(JNIEnv* env, platform::LibraryHandle library) {
    std::lock_guard<std::mutex> guard(loaderLock);
    // Loaded through loadModule: in the map, with this use counted.
    auto found = moduleUses.find(library);
    if (--found->second.uses != 0) {
        platform::closeLibrary(library);  // gives back this use only: the file stays loaded
        return;
    }
    // No binding uses the module any more, so no call can reach its gate.
    giveBackGateLocked(found->second.gate);
    moduleUses.erase(found);
    if (callbacksRunning.load(std::memory_order_seq_cst) != 0) {
        try {
            deferredCloses.push_back(library);
            closesDeferred.store(true, std::memory_order_release);
        } catch (const std::bad_alloc&) {
            // Left loaded for good: closing it under a running callback could crash.
        }
        return;
    }
    closeModuleLocked(env, library);
}

}  // namespace vorlen
