// The top of the library: the four methods of PKCS11Impl that stand for no PKCS#11 function,
// and the test hooks. It is the one place that knows every layer: it loads each layer's cache
// in order and registers with the core what the core must call back (the core includes and
// calls nothing above it).
#include <jni.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "callbacks/callback_cache.h"
#include "convert/convert_cache.h"
#include "core/exceptions.h"
#include "core/jni_cache.h"
#include "core/jni_util.h"
#include "core/module_interface.h"
#include "core/modules.h"
#include "pkcs11/pkcs11.h"

using namespace vorlen;

namespace {

// The caches of the layers above the core, bottom up.
void loadLayerCaches(jni::Loader& loader) {
    jni::loadConvertCache(loader);
    jni::loadCallbackCache(loader);
}

// Loads the module file at `path`; null with an exception pending when it cannot be loaded.
platform::LibraryHandle loadModuleFile(JNIEnv* env, jstring path) {
    if (path == nullptr) {
        throwNullPointer(env, "the module path is null");
        return nullptr;
    }
    if (!libraryInitialized()) {  // set only once the caches are ready
        throwPKCS11RuntimeException(
            env, "The PKCS#11 library is not initialized: call PKCS11Impl.initializeLibrary() first.");
        return nullptr;
    }
    UtfChars chars(env, path);
    if (!chars) {
        throwOutOfMemory(env, "no room for the module path");
        return nullptr;
    }
    std::string error;
    platform::LibraryHandle library = loadModule(chars.get(), error);
    if (library == nullptr) {
        if (error.empty()) {
            throwOutOfMemory(env, "no room to load the module");
            return nullptr;
        }
        // The system's text, a line break, then the path (in a counted block: no std::bad_alloc).
        const std::size_t textLength = error.size();
        const std::size_t breakLength = error.back() != '\n' ? 1 : 0;
        const std::size_t pathLength = std::strlen(chars.get());
        HeapBuffer message;
        if (!message.allocate(env, textLength + breakLength + pathLength + 1,
                              "no room for the reason the module could not be loaded")) {
            return nullptr;
        }
        char* out = message.as<char>();
        std::memcpy(out, error.data(), textLength);
        std::memset(out + textLength, '\n', breakLength);
        std::memcpy(out + textLength + breakLength, chars.get(), pathLength + 1);
        throwIOException(env, out);
    }
    return library;
}

// Binds the object to the module's default "PKCS 11" interface when that is of a 3.x version.
// False when the module has none (nothing done); true when it was bound or failed to be (the
// exception pending, the module given back).
bool bindInterface3(JNIEnv* env, jobject self, platform::LibraryHandle library) {
    std::unique_ptr<ModuleFunctions> functions3(new (std::nothrow) ModuleFunctions);
    if (!functions3) {
        return false;  // as before: the list of C_GetFunctionList is tried
    }
    ModuleRecord record;
    record.library = library;
    if (!findInterface3(library, *functions3, record.list)) {
        return false;
    }
    record.functions = std::move(functions3);
    if (putModule(env, self, record) != PutModule::bound) {
        unloadModule(env, library);  // nothing refers to it (the exception is pending)
    }
    return true;
}

// Binds the object to the module's list of C_GetFunctionList. A connect that got no function
// list leaves a working earlier binding as it was; an object that had none is bound all the
// same (unusable until connected again).
void bindFunctionList2(JNIEnv* env, jobject self, platform::LibraryHandle library) {
    std::string error;
    void* entry = platform::findSymbol(library, "C_GetFunctionList", error);
    if (entry == nullptr) {
        unloadModule(env, library);  // nothing refers to it any more
        if (error.empty()) {  // the loader's text could not be copied
            throwOutOfMemory(env, "no room for the reason C_GetFunctionList was not found");
        } else {
            throwIOException(env, error.c_str());
        }
        return;
    }
    ModuleRecord record;
    record.library = library;
    CK_FUNCTION_LIST_PTR list = nullptr;
    const CK_RV rv = reinterpret_cast<CK_C_GetFunctionList>(entry)(&list);
    if (rv == CKR_OK && list != nullptr) {
        // The library's own copy: a NULL entry becomes a stub, never a call of address 0.
        record.functions.reset(new (std::nothrow) ModuleFunctions);
        if (!record.functions) {
            unloadModule(env, library);
            throwOutOfMemory(env, "no room for the module's function list");
            return;
        }
        copyFunctionList(*list, *record.functions);
        record.list = {ModuleInterface::functionList2, list->version};
    }
    const PutModule put = putModule(env, self, record);
    if (put != PutModule::bound) {
        unloadModule(env, library);  // nothing refers to it
        if (put == PutModule::failed) {
            return;
        }
    }
    if (rv != CKR_OK) {
        checkReturnValue(env, rv);
    } else if (list == nullptr) {
        throwPKCS11RuntimeException(
            env, put == PutModule::keptEarlier
                     ? "C_GetFunctionList returned CKR_OK but no function list; the object "
                       "keeps its earlier connection."
                     : "C_GetFunctionList returned CKR_OK but no function list; the object stays "
                       "unusable until it is disconnected or connected again.");
    }
}

// Loads the module file and binds the object to it. With `interface3`, a module whose default
// "PKCS 11" interface (C_GetInterface with no version) is of a 3.x version is used through that
// list; otherwise, and for every 2.x module, through the list of C_GetFunctionList.
void connectModule(JNIEnv* env, jobject self, jstring path, bool interface3) {
    platform::LibraryHandle library = loadModuleFile(env, path);
    if (library == nullptr || (interface3 && bindInterface3(env, self, library))) {
        return;
    }
    bindFunctionList2(env, self, library);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
    jni::setJavaVM(vm);
    return JNI_VERSION_1_8;
}

JNIEXPORT void JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_initializeLibrary(JNIEnv* env, jclass) {
    if (!jni::loadCaches(env, loadLayerCaches)) {
        return;  // the missing class or member is reported by the pending exception
    }
    setModuleReleasedHook(releaseModuleState);
    markLibraryInitialized();
}

JNIEXPORT void JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_finalizeLibrary(JNIEnv* env, jclass) {
    if (!libraryInitialized()) {
        return;  // finalised already (an initialised library has its caches)
    }
    finalizeBindings(env);
    finalizeCallbackState(env);
}

JNIEXPORT void JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_connect(JNIEnv* env, jobject self, jstring path) {
    connectModule(env, self, path, true);
}

JNIEXPORT void JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_connectFunctionListOnly(JNIEnv* env, jobject self,
                                                                       jstring path) {
    connectModule(env, self, path, false);
}

JNIEXPORT void JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_disconnect(JNIEnv* env, jobject self) {
    removeModule(env, self);  // an object exists: the class, and so the caches, loaded
}

// The version the build wrote into the library (the project's VERSION file).
JNIEXPORT jstring JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_getNativeLibraryVersion(JNIEnv* env, jclass) {
    return env->NewStringUTF(VORLEN_VERSION);  // null with OutOfMemoryError pending on failure
}

JNIEXPORT jlong JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_globalReferenceCount(JNIEnv*, jclass) {
    return static_cast<jlong>(liveGlobalReferences());
}

JNIEXPORT jlong JNICALL
Java_zandrop_tesk_pkcs11_vorlen_api_PKCS11Impl_heapBlockCount(JNIEnv*, jclass) {
    return static_cast<jlong>(liveHeapBlocks());
}

}  // extern "C"
