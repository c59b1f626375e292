// Classes, field and method IDs, looked up once on a Java thread when the library is
// initialised and read from any thread afterwards (also from module threads, where FindClass
// would only see the system class loader).
#pragma once

#include <jni.h>

#include <string>
#include <utility>
#include <vector>

namespace vorlen::jni {

/// Looks classes and members up for a cache. After the first failure it makes no further JNI
/// call (the failure's exception stays pending) and every later result is null.
class Loader {
public:
    explicit Loader(JNIEnv* env) : env_(env) {}
    /// A global reference to the class (kept for the life of the process).
    jclass cls(const char* name);
    jfieldID field(jclass cls, const char* name, const char* signature);
    jmethodID method(jclass cls, const char* name, const char* signature);
    jmethodID staticMethod(jclass cls, const char* name, const char* signature);
    /// A global reference to `local` (kept for the life of the process); the local one is deleted.
    jobject global(jobject local);
    /// A global reference to the object in a static field of `cls`.
    jobject staticObject(jclass cls, const char* name, const char* signature);
    bool ok() const { return ok_; }
    JNIEnv* env() const { return env_; }

private:
    // Marks the load failed when `value` is null: the lookup's Error becomes one of the same
    // class that names `what` (a class or a member with its class and signature), any other
    // Error stays as it is, and a null without an exception (a global reference refused) is an
    // OutOfMemoryError. One function for every type of value.
    template <typename T> T check(T value, const std::string& what) {
        report(value != nullptr, what);
        return value;
    }
    void report(bool found, const std::string& what);
    // "<kind><class>.<name><separator><signature>" (classes this loader found are named).
    std::string member(const char* kind, jclass cls, const char* name, const char* separator,
                       const char* signature) const;
    JNIEnv* env_;
    bool ok_ = true;
    std::vector<std::pair<jclass, const char*>> names_;  // the classes loaded, by name
};

/// The members the binding core uses.
struct CoreCache {
    jclass object;               // java.lang.Object
    jclass throwable;            // java.lang.Throwable
    jmethodID throwableInitCause;
    jclass error;                // java.lang.Error
    jclass outOfMemoryError;
    jclass nullPointerException;
    jclass illegalArgumentException;
    jclass ioException;
    jclass pkcs11Impl;
    jfieldID pkcs11ImplBindingHandle;  // "bindingHandle" "J"
    jclass pkcs11Exception;
    jmethodID pkcs11ExceptionInit;     // "(J)V"
    jmethodID pkcs11ExceptionGetErrorCode;  // "()J"
    jclass pkcs11RuntimeException;
};

/// Filled by loadCaches; valid once it succeeded (every native method of the library runs after
/// that: PKCS11Impl's class initialisation calls it).
extern CoreCache core;

/// The VM the library was loaded into (set when the library is loaded).
JavaVM* javaVM();
void setJavaVM(JavaVM* vm);

/// Loads every cache of the library once: the core's own, then those of the layers above
/// through `loadLayers` (the top of the library passes one that loads each layer's cache in
/// order). Returns false with the exception of the missing class or member pending. Safe to
/// call again (and from several threads).
bool loadCaches(JNIEnv* env, void (*loadLayers)(Loader& loader));

}  // namespace vorlen::jni
