#include "core/jni_cache.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>

namespace vorlen::jni {

CoreCache core{};

void Loader::report(bool found, const std::string& what) {
    if (found) {
        return;
    }
    ok_ = false;
    // Nothing pending: a global reference refused. Else the lookup's Error: a missing class or
    // member (a LinkageError) is named; any other (no memory, a class initializer's failure)
    // stays as it is.
    if (!env_->ExceptionCheck()) {
        const std::string message = "no room for a global reference to " + what;
        jclass error = env_->FindClass("java/lang/OutOfMemoryError");
        if (error != nullptr) {
            env_->ThrowNew(error, message.c_str());
            env_->DeleteLocalRef(error);
        }
        return;
    }
    const std::string message = "The PKCS#11 library's native code needs " + what +
                                ", which the loaded classes lack: the library file and the classes do not match.";
    jthrowable thrown = env_->ExceptionOccurred();
    env_->ExceptionClear();
    jclass linkageError = env_->FindClass("java/lang/LinkageError");
    if (linkageError == nullptr) {  // its own Error is pending
        env_->DeleteLocalRef(thrown);
        return;
    }
    const bool missing = env_->IsInstanceOf(thrown, linkageError);
    env_->DeleteLocalRef(linkageError);
    if (missing) {  // the same kind of Error (NoSuchFieldError...), naming what is missing
        jclass error = env_->GetObjectClass(thrown);
        env_->ThrowNew(error, message.c_str());
        env_->DeleteLocalRef(error);
    } else {
        env_->Throw(thrown);
    }
    env_->DeleteLocalRef(thrown);
}

std::string Loader::member(const char* kind, jclass cls, const char* name, const char* separator,
                           const char* signature) const {
    // Members are looked up on classes this loader found; the search stays within the list all
    // the same, so a class from elsewhere is named generically rather than read past the end.
    const auto found = std::find_if(names_.begin(), names_.end(),
                                    [cls](const auto& entry) { return entry.first == cls; });
    std::string what = kind;
    what += found != names_.end() ? found->second : "a class";
    what += '.';
    what += name;
    what += separator;
    what += signature;
    return what;
}

jclass Loader::cls(const char* name) {
    if (!ok_) {
        return nullptr;
    }
    const std::string what = std::string("the class ") + name;
    jclass local = check(env_->FindClass(name), what);
    if (local == nullptr) {
        return nullptr;
    }
    jclass global = static_cast<jclass>(env_->NewGlobalRef(local));
    env_->DeleteLocalRef(local);
    if (check(global, what) != nullptr) {
        names_.emplace_back(global, name);
    }
    return global;
}

jfieldID Loader::field(jclass cls, const char* name, const char* signature) {
    if (!ok_) {
        return nullptr;
    }
    return check(env_->GetFieldID(cls, name, signature), member("the field ", cls, name, " ", signature));
}

jmethodID Loader::method(jclass cls, const char* name, const char* signature) {
    if (!ok_) {
        return nullptr;
    }
    return check(env_->GetMethodID(cls, name, signature), member("the method ", cls, name, "", signature));
}

jmethodID Loader::staticMethod(jclass cls, const char* name, const char* signature) {
    if (!ok_) {
        return nullptr;
    }
    return check(env_->GetStaticMethodID(cls, name, signature),
                 member("the static method ", cls, name, "", signature));
}

jobject Loader::global(jobject local) {
    // Called only while nothing has failed (staticObject and the small Longs' loop see to it).
    // The call that made `local` checked, as JNI wants: it threw when `local` is null (a JDK
    // constant is never null).
    if (env_->ExceptionCheck()) {
        report(false, "a constant");
        return nullptr;
    }
    jobject global = env_->NewGlobalRef(local);
    env_->DeleteLocalRef(local);
    return check(global, "a constant");
}

jobject Loader::staticObject(jclass cls, const char* name, const char* signature) {
    if (!ok_) {
        return nullptr;
    }
    jfieldID field = check(env_->GetStaticFieldID(cls, name, signature),
                           member("the static field ", cls, name, " ", signature));
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
    // Once per class initialisation, and again only when called by hand: no fast path.
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

}  // namespace vorlen::jni
