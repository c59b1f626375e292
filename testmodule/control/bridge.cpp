// JNI bridge of zandrop.tesk.pkcs11.vorlen.testmodule.TestModule: opens a
// test module file by its path and passes control commands to it.
//
// The module is opened with the same path that the library under test
// loads, so the dynamic loader hands out the same instance and the commands
// reach the state that the library's calls change. The bridge never closes
// the module: it stays loaded, with its state and any callback threads,
// until the process ends, even after the library under test unloads it.
#include <jni.h>

#include <dlfcn.h>

#include <cstdint>
#include <new>
#include <string>

namespace {

using CommandFn = char* (*)(const char*);
using FreeFn = void (*)(char*);

/// What open() hands to Java as an opaque handle.
struct ModuleHandle {
    void* library;
    CommandFn command;
    FreeFn free;
};

void throwNew(JNIEnv* env, const char* className, const std::string& message) {
    jclass cls = env->FindClass(className);
    if (cls != nullptr) env->ThrowNew(cls, message.c_str());
}

/// A Java string as UTF-8 bytes (modified UTF-8 for non-ASCII, which the
/// Java side rejects before calling).
bool utf(JNIEnv* env, jstring s, std::string& out) {
    if (s == nullptr) {
        throwNew(env, "java/lang/NullPointerException", "null string");
        return false;
    }
    const char* chars = env->GetStringUTFChars(s, nullptr);
    if (chars == nullptr) return false;  // OutOfMemoryError pending
    out = chars;
    env->ReleaseStringUTFChars(s, chars);
    return true;
}

}  // namespace

extern "C" JNIEXPORT jlong JNICALL Java_zandrop_tesk_pkcs11_vorlen_testmodule_TestModule_open(JNIEnv* env, jclass,
                                                                                           jstring path) {
    std::string file;
    if (!utf(env, path, file)) return 0;
    dlerror();
    void* library = dlopen(file.c_str(), RTLD_NOW);
    if (library == nullptr) {
        const char* error = dlerror();
        throwNew(env, "java/lang/IllegalStateException", error ? error : ("cannot load " + file));
        return 0;
    }
    auto command = reinterpret_cast<CommandFn>(dlsym(library, "vorlen_testmodule_command"));
    auto release = reinterpret_cast<FreeFn>(dlsym(library, "vorlen_testmodule_free"));
    if (command == nullptr || release == nullptr) {
        const char* error = dlerror();
        std::string message = error ? error : "control functions missing";
        dlclose(library);
        throwNew(env, "java/lang/IllegalStateException", file + " is not a test module: " + message);
        return 0;
    }
    auto* handle = new (std::nothrow) ModuleHandle{library, command, release};
    if (handle == nullptr) {
        dlclose(library);
        throwNew(env, "java/lang/OutOfMemoryError", "test module handle");
        return 0;
    }
    return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(handle));
}

extern "C" JNIEXPORT jstring JNICALL Java_zandrop_tesk_pkcs11_vorlen_testmodule_TestModule_command(JNIEnv* env,
                                                                                                jclass,
                                                                                                jlong handle,
                                                                                                jstring command) {
    auto* module = reinterpret_cast<ModuleHandle*>(static_cast<std::uintptr_t>(handle));
    if (module == nullptr) {
        throwNew(env, "java/lang/IllegalStateException", "test module not open");
        return nullptr;
    }
    std::string text;
    if (!utf(env, command, text)) return nullptr;
    char* answer = module->command(text.c_str());
    if (answer == nullptr) {
        throwNew(env, "java/lang/OutOfMemoryError", "test module answer");
        return nullptr;
    }
    jstring result = env->NewStringUTF(answer);  // the answer is ASCII
    module->free(answer);
    return result;
}

// Lets go of the module (for tests in which the library under test must really unload it):
// the handle is dead afterwards. The caller has joined the module's threads or left them to
// the library.
extern "C" JNIEXPORT void JNICALL Java_zandrop_tesk_pkcs11_vorlen_testmodule_TestModule_close(JNIEnv*, jclass,
                                                                                            jlong handle) {
    auto* module = reinterpret_cast<ModuleHandle*>(static_cast<std::uintptr_t>(handle));
    if (module == nullptr) return;
    dlclose(module->library);
    delete module;
}
