#include "core/jni_cache.h"

#include <atomic>
#include <mutex>

namespace vorlen::jni {

CoreCache core{};

template <typename T>
T Loader::check(T value) {
    if (value == nullptr) {
        ok_ = false;
        if (!env_->ExceptionCheck()) {
            jclass error = env_->FindClass("java/lang/NoSuchFieldError");
            if (error != nullptr) {
                env_->ThrowNew(error, "a member the PKCS#11 library needs is missing");
            }
        }
    }
    return value;
}

jclass Loader::cls(const char* name) {
    if (!ok_) {
        return nullptr;
    }
    jclass local = check(env_->FindClass(name));
    if (local == nullptr) {
        return nullptr;
    }
    jclass global = static_cast<jclass>(env_->NewGlobalRef(local));
    env_->DeleteLocalRef(local);
    return check(global);
}

jfieldID Loader::field(jclass cls, const char* name, const char* signature) {
    return ok_ ? check(env_->GetFieldID(cls, name, signature)) : nullptr;
}

jmethodID Loader::method(jclass cls, const char* name, const char* signature) {
    return ok_ ? check(env_->GetMethodID(cls, name, signature)) : nullptr;
}

jmethodID Loader::staticMethod(jclass cls, const char* name, const char* signature) {
    return ok_ ? check(env_->GetStaticMethodID(cls, name, signature)) : nullptr;
}

jobject Loader::global(jobject local) {
    if (!ok_) {
        return nullptr;
    }
    if (env_->ExceptionCheck()) {  // the call that made `local` threw
        ok_ = false;
        return nullptr;
    }
    if (check(local) == nullptr) {
        return nullptr;
    }
    jobject global = env_->NewGlobalRef(local);
    env_->DeleteLocalRef(local);
    return check(global);
}

jobject Loader::staticObject(jclass cls, const char* name, const char* signature) {
    if (!ok_) {
        return nullptr;
    }
    jfieldID field = check(env_->GetStaticFieldID(cls, name, signature));
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
    c.pkcs11RuntimeExceptionInit = l.method(c.pkcs11RuntimeException, "<init>", "()V");
    c.pkcs11RuntimeExceptionInitMessage =
        l.method(c.pkcs11RuntimeException, "<init>", "(Ljava/lang/String;)V");
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
    loadCore(loader, core);
    loadLayers(loader);
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
