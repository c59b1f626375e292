// The inside of the modules (modules.h), shared by its units: the binding slots and their state word
// (module_registry.cpp), the calls in flight that pin them (module_calls.cpp), the module
// files and their uses (module_loader.cpp), and the blocks a loaded module may keep pointing
// at (module_reserved.cpp).
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>

#include "core/modules.h"

namespace vorlen {

// One binding slot. Slots are never freed, only reused with a new generation, so a
// stale handle always points at valid memory and is told apart by its generation.
/// One per loaded module file, shared by every binding to it: closed while a C_Initialize or
/// C_Finalize runs on the module (module_calls.cpp). Gates are never freed, only reused for
/// another module once the library has unloaded theirs.
struct ModuleGate {
    /// 1 while an exclusive call (C_Initialize, C_Finalize) has the module to itself.
    std::atomic<std::uint32_t> closed{0};
    /// Ordinary calls of this module that could not pin in their thread's pins and count here.
    std::atomic<std::int64_t> counted{0};
    ModuleGate* nextFree = nullptr;  // the loader's pool of unused gates
};

struct Binding {
    // generation (high 32 bits) | dying | bound | calls in flight counted here (low 30 bits;
    // most calls announce themselves in a pin of their thread instead)
    std::atomic<std::uint64_t> state{0};
    jobject object = nullptr;  // global reference to the PKCS11Impl object
    ModuleRecord record;
    /// The gate of record.library; read without a lock by calls scanning other threads' pins.
    std::atomic<ModuleGate*> gate{nullptr};
    bool unloadWhenReleased = false;
    std::uint32_t index = 0;
};

namespace binding {

constexpr std::uint64_t kCountMask = (std::uint64_t{1} << 30) - 1;
constexpr std::uint64_t kBound = std::uint64_t{1} << 30;
constexpr std::uint64_t kDying = std::uint64_t{1} << 31;
constexpr unsigned kGenerationShift = 32;

inline std::uint32_t generationOf(std::uint64_t state) {
    return static_cast<std::uint32_t>(state >> kGenerationShift);
}

/// Whether a state word is bound under `generation`.
inline bool usable(std::uint64_t state, std::uint32_t generation) {
    return generationOf(state) == generation && (state & kBound) != 0;
}

/// The slot a handle names (whatever its state), or null for a handle that names none.
Binding* slotOf(jlong handle);

/// Finishes every binding taken out of service that no call holds any more (module_registry).
void reclaim(JNIEnv* env);

/// Whether a call on some thread has the binding pinned now (module_calls).
bool pinnedAnywhere(const Binding* binding);

}  // namespace binding

/// The gate of a module loaded by loadModule (never null while the library uses the module).
ModuleGate* gateOf(platform::LibraryHandle library);

/// Gives the loaded module `library` a heap block (from heapAlloc) that it may keep pointing
/// at; it replaces (and frees) the module's earlier block. Freed by releaseKeptBlock.
void keepForModule(platform::LibraryHandle library, void* block);
/// Frees the block kept for `library`: called when the library unloads it.
void releaseKeptBlock(platform::LibraryHandle library);

/// Whether a callback from a module runs on this thread now (a ModuleHold is held here).
bool callbackRunsHere();

/// Closes the module files whose close waited for callbacks to end, if none runs now. Called
/// on the way out of every call, connect and disconnect (never inside a callback).
void closeDeferredModules(JNIEnv* env);

}  // namespace vorlen
