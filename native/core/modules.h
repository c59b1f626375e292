// The modules: which PKCS#11 module each PKCS11Impl object is bound to (module_registry.cpp),
// the calls in flight on them (module_calls.cpp), loading and unloading module files
// (module_loader.cpp) and the blocks a loaded module keeps (module_reserved.cpp).
//
// An object's binding is found without any lock and without running Java code: the object's
// private "bindingHandle" field names a binding slot (index and generation), and the slot's
// global reference is compared with the object by reference identity (IsSameObject). A forged
// or stale handle finds nothing. A thread tries the handle of its last call first, without
// reading the field: the same pin and identity check decide whether it serves. Every call into a module pins the slot (in a pin of its own
// thread, so that threads never contend); disconnect unbinds at once, and the module is
// unloaded when the last call in flight on it has returned (on the thread of that call), so no
// call ever runs into an unloaded module and a disconnect from inside a callback cannot
// deadlock.
#pragma once

#include <jni.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/module_functions.h"
#include "pkcs11/pkcs11.h"
#include "platform/dynamic_library.h"

namespace vorlen {

struct Binding;
struct ModuleGate;
struct ThreadPins;

/// What connect recorded for a loaded module.
struct ModuleRecord {
    platform::LibraryHandle library = nullptr;
    /// The library's copy of the module's list; null when the module gave none.
    std::unique_ptr<ModuleFunctions> functions;
    ModuleListInfo list;
};

/// Marks the library ready; true when it already was.
bool markLibraryInitialized();
/// Drops every binding (modules stay loaded) and marks the library not initialised.
void finalizeBindings(JNIEnv* env);
bool libraryInitialized();

enum class PutModule {
    bound,        ///< the object is bound to the record (which the binding now owns)
    keptEarlier,  ///< the record has no function list and the object keeps its working binding
    failed,       ///< an exception is pending (library not initialised, out of memory)
};
/// Binds `object` to `record`, replacing an earlier binding of the same object (whose module
/// stays loaded) in one step for concurrent calls. A record without a function list never
/// replaces a working binding. Unless bound, the record is still the caller's.
PutModule putModule(JNIEnv* env, jobject object, ModuleRecord& record);

/// Unbinds `object`; its module is unloaded once no call is in flight on it.
/// Returns false when the object was not bound.
bool removeModule(JNIEnv* env, jobject object);

/// How a call stands to C_Initialize and C_Finalize, which have the module file to themselves
/// (every object connected to it): they wait for the calls in flight on it, and calls that
/// arrive while one runs are refused with CKR_CRYPTOKI_NOT_INITIALIZED without reaching the
/// module.
enum class CallKind {
    ordinary,  ///< waited for; refused while C_Initialize or C_Finalize runs
    unwaited,  ///< refused likewise, but not waited for: a blocking C_WaitForSlotEvent, which
               ///< the module's C_Finalize ends
    exclusive,  ///< C_Initialize, C_Finalize: closes the module to other calls, waits for
                ///< those in flight on other threads (for none inside a callback), and is
                ///< refused while another exclusive call has the module, unless this thread
                ///< waits for nothing
};

/// A call in flight on a module: pins the object's binding for the life of the guard.
class ModuleCall {
public:
    /// Looks the object's binding up; when there is none (or no function list), throws
    /// "This object is not connected to a module." and the guard is empty. When the module is
    /// closed to the call (see CallKind), throws PKCS11Exception CKR_CRYPTOKI_NOT_INITIALIZED
    /// and the guard is empty.
    ModuleCall(JNIEnv* env, jobject object);
    ModuleCall(JNIEnv* env, jobject object, CallKind kind);
    ModuleCall(const ModuleCall&) = delete;
    ModuleCall& operator=(const ModuleCall&) = delete;
    ~ModuleCall();

    explicit operator bool() const { return functions_ != nullptr; }
    /// The module's entries: the one way to the module. An entry the module does not have
    /// answers CKR_FUNCTION_NOT_SUPPORTED without calling anything.
    ModuleFunctions* operator->() const { return functions_; }
    ModuleFunctions* functions() const { return functions_; }
    /// Which list of the module the binding uses, and its version. This and the two below only
    /// on a guard that entered (true).
    const ModuleListInfo& list() const;
    /// The loaded module this call goes to. Two objects connected to the same module file share
    /// it; it names the module instance until the module is really unloaded.
    const void* module() const;
    /// Gives the module a heap block (from heapAlloc) that it may keep pointing at, such as
    /// the reserved value of a C_Initialize it accepted: kept per loaded module (objects on
    /// the same file share it) and freed when the library unloads the module, or when a later
    /// block replaces it. Null is ignored.
    void keepWhileLoaded(void* block);

private:
    bool enterAlone();
    bool ownCallOn(const ModuleGate* gate) const;
    bool othersInside(const ModuleGate* gate) const;
    void leave();

    JNIEnv* env_;
    Binding* binding_ = nullptr;
    int pinSlot_ = -1;
    ThreadPins* pins_ = nullptr;  // the calling thread's pins, when pinSlot_ >= 0
    ModuleFunctions* functions_ = nullptr;
    ModuleGate* gate_ = nullptr;
    bool alone_ = false;    // this exclusive call has closed the gate
    bool counted_ = false;  // counted in the gate rather than pinned
    ModuleCall* outerCounted_ = nullptr;
};

/// Loads a module file and counts the library as a user of it. Returns null with the system's
/// error text in `error`, or with `error` empty when memory ran out (for the loader's own
/// records or for that text).
platform::LibraryHandle loadModule(const char* path, std::string& error);
/// Gives up one use of a module loaded by loadModule (not null); when the library no longer uses the
/// module at all, it is unloaded, its kept block freed and the module-released hook called.
void unloadModule(JNIEnv* env, platform::LibraryHandle library);

/// Held by every callback from a module (mutex callbacks and notifications, on any thread) for
/// its whole length: while one is held, no module file is closed, so a disconnect from that
/// callback or from another thread never unloads a module under a running callback. A module
/// whose last use goes meanwhile is closed by the first call, connect or disconnect that ends
/// after the last hold, never on the callback's thread, which returns into the module.
class ModuleHold {
public:
    ModuleHold();
    ModuleHold(const ModuleHold&) = delete;
    ModuleHold& operator=(const ModuleHold&) = delete;
    ~ModuleHold();
};

/// Called when the library has unloaded a module (it can no longer call back), so that the
/// layers above release what they keep for it. Registered by the top of the library.
using ModuleReleasedHook = void (*)(JNIEnv* env, const void* module);
void setModuleReleasedHook(ModuleReleasedHook hook);

}  // namespace vorlen
