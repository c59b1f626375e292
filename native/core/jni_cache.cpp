#include "core/jni_cache.h"

#include <atomic>
#include <mutex>
#include <new>

namespace vorlen::jni {

CoreCache core{};

template <typename T>
T Loader::check(T value, const char* errorClass, const std::string& what) {
    if (value != nullptr) {
        return value;
    }
    ok_ = false;
    jthrowable thrown = env_->ExceptionOccurred();
    env_->ExceptionClear();
    jclass linkageError = env_->FindClass("java/lang/LinkageError");
    if (linkageError == nullptr) {  // its own Error is pending
        if (thrown != nullptr) {
            env_->DeleteLocalRef(thrown);
        }
        return value;
    }
    const bool missing = thrown != nullptr && env_->IsInstanceOf(thrown, linkageError);
    env_->DeleteLocalRef(linkageError);
    if (thrown != nullptr && !missing) {
        env_->Throw(thrown);  // no memory, or the class's initializer failed: as it is
        env_->DeleteLocalRef(thrown);
        return value;
    }
    if (thrown != nullptr) {
        env_->DeleteLocalRef(thrown);
    }
    const std::string message =
        missing ? "The PKCS#11 library's native code needs " + what +
                      ", which the loaded classes lack: the library file and the classes do not match."
                : "no room for a global reference to " + what;
    jclass error = env_->FindClass(missing ? errorClass : "java/lang/OutOfMemoryError");
    if (error != nullptr) {
        env_->ThrowNew(error, message.c_str());
        env_->DeleteLocalRef(error);
    }
    return value;
}

std::string Loader::nameOf(jclass cls) const {
    for (const auto& [loaded, name] : names_) {
        if (loaded == cls) {
            return name;
        }
    }
    return "a class";
}

jclass Loader::cls(const char* name) {
    if (!ok_) {
        return nullptr;
    }
    const std::string what = std::string("the class ") + name;
    jclass local = check(env_->FindClass(name), "java/lang/NoClassDefFoundError", what);
    if (local == nullptr) {
        return nullptr;
    }
    jclass global = static_cast<jclass>(env_->NewGlobalRef(local));
    env_->DeleteLocalRef(local);
    if (check(global, "", what) != nullptr) {
        names_.emplace_back(global, name);
    }
    return global;
}

jfieldID Loader::field(jclass cls, const char* name, const char* signature) {
    return ok_ ? check(env_->GetFieldID(cls, name, signature), "java/lang/NoSuchFieldError",
                       "the field " + nameOf(cls) + "." + name + " " + signature)
               : nullptr;
}

jmethodID Loader::method(jclass cls, const char* name, const char* signature) {
    return ok_ ? check(env_->GetMethodID(cls, name, signature), "java/lang/NoSuchMethodError",
                       "the method " + nameOf(cls) + "." + name + signature)
               : nullptr;
}

jmethodID Loader::staticMethod(jclass cls, const char* name, const char* signature) {
    return ok_ ? check(env_->GetStaticMethodID(cls, name, signature), "java/lang/NoSuchMethodError",
                       "the static method " + nameOf(cls) + "." + name + signature)
               : nullptr;
}

jobject Loader::global(jobject local) {
    if (!ok_) {
        return nullptr;
    }
    // The call that made `local` threw (a JDK constant is never null).
    if (env_->ExceptionCheck() || local == nullptr) {
        ok_ = false;
        return nullptr;
    }
    jobject global = env_->NewGlobalRef(local);
    env_->DeleteLocalRef(local);
    return check(global, "", "a constant");
}

jobject Loader::staticObject(jclass cls, const char* name, const char* signature) {
    if (!ok_) {
        return nullptr;
    }
    jfieldID field = check(env_->GetStaticFieldID(cls, name, signature), "java/lang/NoSuchFieldError",
                           "the static field " + nameOf(cls) + "." + name + " " + signature);
    return field != nullptr ? global(env_->GetStaticObjectField(cls, field)) : nullptr;
}

namespace {

std::mutex loadLock;
std::atomic<bool> ready{false};

void loadCore(Loader& l, CoreCache& c) {
    c.object = l.cls("java/lang/Object");
    c.throwable = l.cls("java/lang/Throwable");
    c.throwableInitCause = l.method(c.throwable, "initCause",
                                    "(Ljava/lang/Throwable;)Ljava/lang/Throwable;");
    c.error = l.cls("java/lang/Error");
    c.outOfMemoryError = l.cls("java/lang/OutOfMemoryError");
    c.nullPointerException = l.cls("java/lang/NullPointerException");
    c.illegalArgumentException = l.cls("java/lang/IllegalArgumentException");
    c.ioException = l.cls("java/io/IOException");
    c.pkcs11Impl = l.cls("zandrop/tesk/pkcs11/vorlen/api/PKCS11Impl");
    c.pkcs11ImplBindingHandle = l.field(c.pkcs11Impl, "bindingHandle", "J");
    c.pkcs11Exception = l.cls("zandrop/tesk/pkcs11/vorlen/api/PKCS11Exception");
    c.pkcs11ExceptionInit = l.method(c.pkcs11Exception, "<init>", "(J)V");
    c.pkcs11ExceptionGetErrorCode = l.method(c.pkcs11Exception, "getErrorCode", "()J");
    c.pkcs11RuntimeException = l.cls("zandrop/tesk/pkcs11/vorlen/api/PKCS11RuntimeException");
}

}  // namespace

bool loadCaches(JNIEnv* env, void (*loadLayers)(Loader& loader)) {
    if (ready.load(std::memory_order_acquire)) {
        return true;
    }
    std::lock_guard<std::mutex> guard(loadLock);
    if (ready.load(std::memory_order_relaxed)) {
        return true;
    }
    // Nothing reads the caches before they are marked ready, so they are filled in place.
    // After a failure the references made so far stay: they are few and point at classes
    // that live as long as the library's own class.
    Loader loader(env);
    try {
        loadCore(loader, core);
        loadLayers(loader);
    } catch (const std::bad_alloc&) {  // the names in the messages
        if (!env->ExceptionCheck()) {
            jclass error = env->FindClass("java/lang/OutOfMemoryError");
            if (error != nullptr) {
                env->ThrowNew(error, "no room to load the PKCS#11 library's classes");
            }
        }
        return false;
    }
    if (!loader.ok()) {
        return false;
    }
    ready.store(true, std::memory_order_release);
    return true;
}

namespace {
std::atomic<JavaVM*> theVM{nullptr};
}  // namespace

JavaVM* javaVM() { return theVM.load(std::memory_order_acquire); }
void setJavaVM(JavaVM* vm) { theVM.store(vm, std::memory_order_release); }

bool cachesReady() { return ready.load(std::memory_order_acquire); }

}  // namespace vorlen::jni
