// Loading and unloading module files, with the count of the library's uses of each.
#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>

#include "core/module_internal.h"
#include "core/module_list.h"

namespace vorlen {

namespace {

// Guards loading and unloading of module files together with the count of uses per module,
// so that "the library no longer uses this module" is decided exactly once.
std::mutex loaderLock;
std::unordered_map<platform::LibraryHandle, std::int64_t> moduleUses;

std::atomic<ModuleReleasedHook> moduleReleased{nullptr};

}  // namespace

void setModuleReleasedHook(ModuleReleasedHook hook) {
    moduleReleased.store(hook, std::memory_order_release);
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
        releaseKeptBlock(library);
        if (ModuleReleasedHook hook = moduleReleased.load(std::memory_order_acquire)) {
            hook(env, library);
        }
    }
}

}  // namespace vorlen
