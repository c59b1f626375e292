// Ownership of the blocks a loaded module may keep pointing at: the converted "pReserved" of
// C_Initialize. One per loaded module (objects connected to the same file share it), freed
// only when the library unloads the module: not when an object is rebound or disconnected
// while another still uses the module, and not by finalizeLibrary, since the module stays
// initialised and may still read it.
#include <mutex>
#include <new>
#include <unordered_map>

#include "core/jni_util.h"
#include "core/module_internal.h"

namespace vorlen {

namespace {

std::mutex keptLock;
std::unordered_map<platform::LibraryHandle, void*> kept;

}  // namespace

void keepForModule(platform::LibraryHandle library, void* block) {
    if (block == nullptr) {
        return;
    }
    void* earlier = nullptr;
    {
        std::lock_guard<std::mutex> guard(keptLock);
        try {
            void*& slot = kept[library];
            earlier = slot;
            slot = block;
        } catch (const std::bad_alloc&) {
            return;  // never freed: the module may point at it, so losing it is the safe side
        }
    }
    heapFree(earlier);
}

void releaseKeptBlock(platform::LibraryHandle library) {
    void* block = nullptr;
    {
        std::lock_guard<std::mutex> guard(keptLock);
        const auto found = kept.find(library);
        if (found == kept.end()) {
            return;
        }
        block = found->second;
        kept.erase(found);
    }
    heapFree(block);
}

// Called on an entered call (a guard that holds functions holds its binding).
void ModuleCall::keepWhileLoaded(void* block) { keepForModule(binding_->record.library, block); }

}  // namespace vorlen
