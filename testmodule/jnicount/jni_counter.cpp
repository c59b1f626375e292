// A JNI call counter for tests: loaded with System.load, it takes a JVM TI environment, wraps the
// JNI functions the library uses with counters (GetJNIFunctionTable / SetJNIFunctionTable) and
// counts the calls that a thread makes between start() and stop(). A varargs function and its V
// form (which C++ callers reach through JNIEnv's varargs members) count as the varargs one, and
// the calls a JNI function makes through the table itself (the VM's GetDirectBufferAddress calls
// IsInstanceOf and GetLongField) are not counted: only the calls of the code under test. The counts come back as one line of
// "Name=count" pairs, the functions not called left out.
//
// The same wrappers inject faults (JniFaults in the tests): armed with a function name (or none:
// every function that can fail for want of memory) and a number n, the n-th such call made from
// outside the JNI functions fails as the VM fails it: NULL with an OutOfMemoryError pending from
// the allocating functions, GetStringUTFChars and the array-element functions; a negative answer
// with OutOfMemoryError pending from PushLocalFrame, EnsureLocalCapacity and ThrowNew; no call
// and OutOfMemoryError pending from the Call*Method functions (the Java method could not run);
// NULL without an exception from NewGlobalRef; the Error of a missing class or member from the
// lookups; JNI_ENOMEM from the JavaVM's AttachCurrentThread. The calls counted are those of the
// thread that armed the injector and of threads attached through AttachCurrentThread meanwhile
// (callbacks on a module's threads). Armed with "heapAlloc", it fails the n-th heap block the
// library asks for instead (through the library's vorlen_heapFaultHook, set while armed): those
// of heapAlloc and, on Linux, those of the library's own operator new (reported as operatorNew).
#include <dlfcn.h>
#include <jni.h>
#include <jvmti.h>
#include <link.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <string>
#include <string_view>

namespace {

const JNINativeInterface_* original = nullptr;
thread_local bool counting = false;
thread_local int depth = 0;  // JNI functions of this thread running now

#define VORLEN_COUNTED_JNI(X)                                                                      \
    X(FindClass) X(Throw) X(ThrowNew) X(ExceptionOccurred) X(ExceptionClear) X(ExceptionCheck)     \
    X(PushLocalFrame) X(PopLocalFrame) X(NewGlobalRef) X(DeleteGlobalRef) X(DeleteLocalRef)        \
    X(IsSameObject) X(NewLocalRef) X(EnsureLocalCapacity) X(AllocObject) X(NewObject)              \
    X(GetObjectClass) X(IsInstanceOf) X(GetMethodID) X(CallObjectMethod) X(CallBooleanMethod)      \
    X(CallByteMethod) X(CallCharMethod) X(CallIntMethod) X(CallLongMethod) X(CallVoidMethod)       \
    X(GetFieldID) X(GetObjectField) X(GetBooleanField) X(GetByteField) X(GetLongField)             \
    X(SetObjectField) X(SetBooleanField) X(SetByteField) X(SetLongField) X(GetStaticMethodID)      \
    X(CallStaticObjectMethod) X(GetStaticFieldID) X(GetStaticObjectField) X(GetStringLength)       \
    X(GetStringUTFLength) X(GetStringUTFChars) X(ReleaseStringUTFChars) X(GetArrayLength)          \
    X(NewObjectArray) X(GetObjectArrayElement) X(SetObjectArrayElement) X(NewByteArray)            \
    X(NewCharArray) X(NewLongArray) X(GetByteArrayElements) X(ReleaseByteArrayElements)            \
    X(GetByteArrayRegion) X(GetCharArrayRegion) X(SetByteArrayRegion) X(SetCharArrayRegion)        \
    X(SetLongArrayRegion) X(GetStringUTFRegion) X(GetDirectBufferAddress)                          \
    X(GetDirectBufferCapacity) X(NewStringUTF) X(NewIntArray) X(NewBooleanArray)                   \
    X(GetPrimitiveArrayCritical) X(ReleasePrimitiveArrayCritical)

// Every function counted: the JNI table's, the JavaVM's AttachCurrentThread and the library's
// heap allocation (counted and failed only when chosen by name).
#define VORLEN_COUNTED(X) VORLEN_COUNTED_JNI(X) X(AttachCurrentThread) X(heapAlloc) X(operatorNew)

enum Index {
#define VORLEN_INDEX(name) k##name,
    VORLEN_COUNTED(VORLEN_INDEX)
#undef VORLEN_INDEX
    kCount
};

const char* const kNames[] = {
#define VORLEN_NAME(name) #name,
    VORLEN_COUNTED(VORLEN_NAME)
#undef VORLEN_NAME
};

std::atomic<long> counts[kCount];

// The fault injector's state: armed or not, the function chosen (kCount: every function that
// can fail), the calls of that kind seen so far, the one to fail and the function that failed.
std::atomic<bool> armed{false};
std::atomic<int> chosen{kCount};
std::atomic<jlong> seen{0};
std::atomic<jlong> target{0};
std::atomic<int> failedIndex{-1};
thread_local bool inScope = false;  // the arming thread, and threads attached while armed
thread_local bool armingThread = false;
std::atomic<bool> failedElsewhere{false};  // the failed call was made on another thread
jclass outOfMemoryError = nullptr;

// Whether this call, one that can fail, is the one to fail.
bool failHere(Index i) {
    if (!armed.load() || !inScope) {
        return false;
    }
    const int c = chosen.load();
    // "heapAlloc" chosen: the library's operator new as well (reported as operatorNew)
    const bool heap = i == kheapAlloc || i == koperatorNew;
    if (c == kCount ? heap : c == kheapAlloc ? !heap : c != i) {
        return false;
    }
    const jlong call = seen.fetch_add(1) + 1;
    const jlong t = target.load();
    if (t > 0 ? call != t : t == 0 || call < -t) {  // -n: the n-th call and every later one
        return false;
    }
    failedElsewhere.store(!armingThread);
    failedIndex.store(i);
    return true;
}

// Counts one call made from outside the JNI functions, for the length of the call; for a
// function that can fail, decides whether this call fails.
struct Counted {
    explicit Counted(Index i, bool canFail = false) {
        if (depth == 0) {
            if (counting) {
                counts[i].fetch_add(1, std::memory_order_relaxed);
            }
            fail = canFail && failHere(i);
        }
        ++depth;
    }
    ~Counted() { --depth; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    bool fail = false;
};

void throwOutOfMemory(JNIEnv* e) {
    original->ThrowNew(e, outOfMemoryError, "injected: the JNI function found no memory");
}

// Throws a new `errorClass` (such as the Error of a lookup that finds nothing) with `message`.
void throwError(JNIEnv* e, const char* errorClass, const char* message) {
    jclass c = original->FindClass(e, errorClass);
    if (c != nullptr) {
        original->ThrowNew(e, c, message);
        original->DeleteLocalRef(e, c);
    }
}

// A plain function: counted, then forwarded with its arguments.
#define VORLEN_PLAIN(ret, name, params, args)  \
    ret JNICALL name params {                  \
        const Counted counted(k##name);        \
        return original->name args;            \
    }

// A function that can fail, counted under k##index: the call chosen to fail does `onFail` and
// returns `failed`; the others are forwarded.
#define VORLEN_FAILING(ret, name, index, params, args, onFail, failed)  \
    ret JNICALL name params {                                           \
        const Counted counted(k##index, true);                          \
        if (counted.fail) {                                             \
            onFail;                                                     \
            return failed;                                              \
        }                                                               \
        return original->name args;                                     \
    }

// A function that fails by returning `failed` with OutOfMemoryError pending.
#define VORLEN_FALLIBLE(ret, name, params, args, failed) \
    VORLEN_FAILING(ret, name, name, params, args, throwOutOfMemory(e), failed)

// A lookup that fails with `error` naming the looked-up name `n`.
#define VORLEN_LOOKUP(ret, name, params, args, error) \
    VORLEN_FAILING(ret, name, name, params, args, throwError(e, error, n), nullptr)

// The Java method calls that return a value: (return type, varargs name, type of the object or
// class argument); CallVoidMethod is the one more.
#define VORLEN_VALUE_CALLS(X)                                                                      \
    X(jobject, NewObject, jclass) X(jobject, CallObjectMethod, jobject)                            \
    X(jboolean, CallBooleanMethod, jobject) X(jbyte, CallByteMethod, jobject)                      \
    X(jchar, CallCharMethod, jobject) X(jint, CallIntMethod, jobject)                              \
    X(jlong, CallLongMethod, jobject) X(jobject, CallStaticObjectMethod, jclass)
#define VORLEN_METHOD_CALLS(X) VORLEN_VALUE_CALLS(X) X(void, CallVoidMethod, jobject)

// The va_list form of a method call, which C++ callers reach through JNIEnv's varargs members:
// counted and failed under the name of the varargs form. When it fails, the method is not called
// and OutOfMemoryError is pending.
#define VORLEN_VFORM(ret, name, Target)                                                              \
    VORLEN_FAILING(ret, name##V, name, (JNIEnv* e, Target o, jmethodID m, va_list l), (e, o, m, l), \
                   throwOutOfMemory(e), ret())

// A varargs method call: forwarded through its counted va_list form.
#define VORLEN_VARARGS(ret, name, Target)                     \
    ret JNICALL name(JNIEnv* e, Target o, jmethodID m, ...) { \
        va_list list;                                         \
        va_start(list, m);                                    \
        ret result = name##V(e, o, m, list);                  \
        va_end(list);                                         \
        return result;                                        \
    }

namespace counted {
VORLEN_METHOD_CALLS(VORLEN_VFORM)
VORLEN_VALUE_CALLS(VORLEN_VARARGS)
void JNICALL CallVoidMethod(JNIEnv* e, jobject o, jmethodID m, ...) {
    va_list list;
    va_start(list, m);
    CallVoidMethodV(e, o, m, list);
    va_end(list);
}

VORLEN_LOOKUP(jclass, FindClass, (JNIEnv* e, const char* n), (e, n), "java/lang/NoClassDefFoundError")
VORLEN_PLAIN(jint, Throw, (JNIEnv* e, jthrowable t), (e, t))
VORLEN_FALLIBLE(jint, ThrowNew, (JNIEnv* e, jclass c, const char* m), (e, c, m), JNI_ERR)
VORLEN_PLAIN(jthrowable, ExceptionOccurred, (JNIEnv* e), (e))
VORLEN_PLAIN(void, ExceptionClear, (JNIEnv* e), (e))
VORLEN_PLAIN(jboolean, ExceptionCheck, (JNIEnv* e), (e))
VORLEN_FALLIBLE(jint, PushLocalFrame, (JNIEnv* e, jint c), (e, c), JNI_ENOMEM)
VORLEN_PLAIN(jobject, PopLocalFrame, (JNIEnv* e, jobject r), (e, r))
// NULL without an exception, as the VM fails it.
VORLEN_FAILING(jobject, NewGlobalRef, NewGlobalRef, (JNIEnv* e, jobject o), (e, o), (void)0, nullptr)
VORLEN_PLAIN(void, DeleteGlobalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(void, DeleteLocalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(jboolean, IsSameObject, (JNIEnv* e, jobject a, jobject b), (e, a, b))
VORLEN_PLAIN(jobject, NewLocalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_FALLIBLE(jint, EnsureLocalCapacity, (JNIEnv* e, jint c), (e, c), JNI_ENOMEM)
VORLEN_FALLIBLE(jobject, AllocObject, (JNIEnv* e, jclass c), (e, c), nullptr)
VORLEN_PLAIN(jclass, GetObjectClass, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(jboolean, IsInstanceOf, (JNIEnv* e, jobject o, jclass c), (e, o, c))
VORLEN_LOOKUP(jmethodID, GetMethodID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s), "java/lang/NoSuchMethodError")
VORLEN_LOOKUP(jfieldID, GetFieldID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s), "java/lang/NoSuchFieldError")
VORLEN_PLAIN(jobject, GetObjectField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(jboolean, GetBooleanField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(jbyte, GetByteField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(jlong, GetLongField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(void, SetObjectField, (JNIEnv* e, jobject o, jfieldID f, jobject v), (e, o, f, v))
VORLEN_PLAIN(void, SetBooleanField, (JNIEnv* e, jobject o, jfieldID f, jboolean v), (e, o, f, v))
VORLEN_PLAIN(void, SetByteField, (JNIEnv* e, jobject o, jfieldID f, jbyte v), (e, o, f, v))
VORLEN_PLAIN(void, SetLongField, (JNIEnv* e, jobject o, jfieldID f, jlong v), (e, o, f, v))
VORLEN_LOOKUP(jmethodID, GetStaticMethodID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s), "java/lang/NoSuchMethodError")
VORLEN_LOOKUP(jfieldID, GetStaticFieldID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s), "java/lang/NoSuchFieldError")
VORLEN_PLAIN(jobject, GetStaticObjectField, (JNIEnv* e, jclass c, jfieldID f), (e, c, f))
VORLEN_PLAIN(jsize, GetStringLength, (JNIEnv* e, jstring s), (e, s))
VORLEN_PLAIN(jsize, GetStringUTFLength, (JNIEnv* e, jstring s), (e, s))
VORLEN_FALLIBLE(const char*, GetStringUTFChars, (JNIEnv* e, jstring s, jboolean* c), (e, s, c), nullptr)
VORLEN_PLAIN(void, ReleaseStringUTFChars, (JNIEnv* e, jstring s, const char* c), (e, s, c))
VORLEN_PLAIN(jsize, GetArrayLength, (JNIEnv* e, jarray a), (e, a))
VORLEN_FALLIBLE(jobjectArray, NewObjectArray, (JNIEnv* e, jsize n, jclass c, jobject i), (e, n, c, i), nullptr)
VORLEN_PLAIN(jobject, GetObjectArrayElement, (JNIEnv* e, jobjectArray a, jsize i), (e, a, i))
VORLEN_PLAIN(void, SetObjectArrayElement, (JNIEnv* e, jobjectArray a, jsize i, jobject v), (e, a, i, v))
VORLEN_FALLIBLE(jbyteArray, NewByteArray, (JNIEnv* e, jsize n), (e, n), nullptr)
VORLEN_FALLIBLE(jcharArray, NewCharArray, (JNIEnv* e, jsize n), (e, n), nullptr)
VORLEN_FALLIBLE(jlongArray, NewLongArray, (JNIEnv* e, jsize n), (e, n), nullptr)
VORLEN_FALLIBLE(jbyte*, GetByteArrayElements, (JNIEnv* e, jbyteArray a, jboolean* c), (e, a, c), nullptr)
VORLEN_PLAIN(void, ReleaseByteArrayElements, (JNIEnv* e, jbyteArray a, jbyte* p, jint m), (e, a, p, m))
VORLEN_PLAIN(void, GetByteArrayRegion, (JNIEnv* e, jbyteArray a, jsize s, jsize n, jbyte* b), (e, a, s, n, b))
VORLEN_PLAIN(void, GetCharArrayRegion, (JNIEnv* e, jcharArray a, jsize s, jsize n, jchar* b), (e, a, s, n, b))
VORLEN_PLAIN(void, SetByteArrayRegion, (JNIEnv* e, jbyteArray a, jsize s, jsize n, const jbyte* b), (e, a, s, n, b))
VORLEN_PLAIN(void, SetCharArrayRegion, (JNIEnv* e, jcharArray a, jsize s, jsize n, const jchar* b), (e, a, s, n, b))
VORLEN_PLAIN(void, SetLongArrayRegion, (JNIEnv* e, jlongArray a, jsize s, jsize n, const jlong* b), (e, a, s, n, b))
VORLEN_PLAIN(void, GetStringUTFRegion, (JNIEnv* e, jstring s, jsize st, jsize n, char* b), (e, s, st, n, b))
VORLEN_PLAIN(void*, GetDirectBufferAddress, (JNIEnv* e, jobject b), (e, b))
VORLEN_PLAIN(jlong, GetDirectBufferCapacity, (JNIEnv* e, jobject b), (e, b))
VORLEN_FALLIBLE(jstring, NewStringUTF, (JNIEnv* e, const char* u), (e, u), nullptr)
VORLEN_FALLIBLE(jintArray, NewIntArray, (JNIEnv* e, jsize n), (e, n), nullptr)
VORLEN_FALLIBLE(jbooleanArray, NewBooleanArray, (JNIEnv* e, jsize n), (e, n), nullptr)
VORLEN_FALLIBLE(void*, GetPrimitiveArrayCritical, (JNIEnv* e, jarray a, jboolean* c), (e, a, c), nullptr)
VORLEN_PLAIN(void, ReleasePrimitiveArrayCritical, (JNIEnv* e, jarray a, void* p, jint m), (e, a, p, m))

// The library's heap hook: whether the block asked for now (by heapAlloc, or by the library's
// operator new) is refused.
bool refuseBlock(std::size_t, bool fromNew) {
    const Counted counted(fromNew ? koperatorNew : kheapAlloc, true);
    return counted.fail;
}
}  // namespace counted

// The library's vorlen_heapFaultHook, found in the loaded library (which the JVM loaded with
// local symbols: dlsym through a handle of its own file); null when it is not loaded.
using HeapFaultHook = void (*)(bool (*)(std::size_t, bool));
HeapFaultHook heapFaultHook() {
    std::string path;
    dl_iterate_phdr([](dl_phdr_info* info, std::size_t, void* out) {
        if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "vorlenpkcs11") != nullptr) {
            *static_cast<std::string*>(out) = info->dlpi_name;
            return 1;
        }
        return 0;
    }, &path);
    void* handle = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) {
        return nullptr;
    }
    auto hook = reinterpret_cast<HeapFaultHook>(dlsym(handle, "vorlen_heapFaultHook"));
    dlclose(handle);  // the JVM's own handle keeps the library loaded
    return hook;
}
HeapFaultHook installedHook = nullptr;

// The JavaVM's own table: AttachCurrentThread can fail, and a thread attached while the
// injector is armed is one whose calls it counts (until it detaches).
const JNIInvokeInterface_* originalVm = nullptr;

jint JNICALL attachCurrentThread(JavaVM* vm, void** env, void* args) {
    if (armed.load() && depth == 0) {
        inScope = true;
        const Counted counted(kAttachCurrentThread, true);
        if (counted.fail) {
            inScope = false;
            return JNI_ENOMEM;
        }
    }
    return originalVm->AttachCurrentThread(vm, env, args);
}

jint JNICALL detachCurrentThread(JavaVM* vm) {
    inScope = false;
    return originalVm->DetachCurrentThread(vm);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
    jvmtiEnv* jvmti = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2) != JNI_OK) {
        return JNI_ERR;
    }
    jniNativeInterface* table = nullptr;
    if (jvmti->GetJNIFunctionTable(&table) != JVMTI_ERROR_NONE) {
        return JNI_ERR;
    }
    // The original table stays allocated for the life of the process: the wrappers call into it.
    static JNINativeInterface_ saved = *table;
    original = &saved;
#define VORLEN_INSTALL(name) table->name = counted::name;
#define VORLEN_INSTALL_VFORM(ret, name, Target) VORLEN_INSTALL(name##V)
    VORLEN_COUNTED_JNI(VORLEN_INSTALL)
    VORLEN_METHOD_CALLS(VORLEN_INSTALL_VFORM)
#undef VORLEN_INSTALL_VFORM
#undef VORLEN_INSTALL
    if (jvmti->SetJNIFunctionTable(table) != JVMTI_ERROR_NONE) {
        return JNI_ERR;
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(table));
    JNIEnv* env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) != JNI_OK) {
        return JNI_ERR;
    }
    jclass oom = original->FindClass(env, "java/lang/OutOfMemoryError");
    outOfMemoryError = oom != nullptr ? static_cast<jclass>(original->NewGlobalRef(env, oom)) : nullptr;
    if (outOfMemoryError == nullptr) {
        return JNI_ERR;
    }
    // The VM's invoke table is shared by the whole process and never freed; this copy replaces
    // it for the rest of the process.
    static JNIInvokeInterface_ invoke = *vm->functions;
    originalVm = vm->functions;
    invoke.AttachCurrentThread = attachCurrentThread;
    invoke.DetachCurrentThread = detachCurrentThread;
    vm->functions = &invoke;
    return JNI_VERSION_1_8;
}

/// Clears the counts and counts the calls of this thread from now on.
JNIEXPORT void JNICALL Java_zandrop_tesk_pkcs11_vorlen_api_JniCallBudgetTest_startCounting(JNIEnv*, jclass) {
    for (auto& c : counts) {
        c.store(0);
    }
    counting = true;
}

/// Stops counting; returns "Name=count ..." for every function called since startCounting.
JNIEXPORT jstring JNICALL Java_zandrop_tesk_pkcs11_vorlen_api_JniCallBudgetTest_stopCounting(JNIEnv* env, jclass) {
    counting = false;
    std::string text;
    for (int i = 0; i < kCount; ++i) {
        const long n = counts[i].load();
        if (n != 0) {
            text += std::string(text.empty() ? "" : " ") + kNames[i] + "=" + std::to_string(n);
        }
    }
    return env->NewStringUTF(text.c_str());
}

/// Arms the injector: the n-th call (n >= 1) of `function` (null: of any function that can fail)
/// made by this thread, or by a thread attached from now on, fails; n = 0 only counts them.
/// "heapAlloc" as `function` counts and fails the library's heap blocks instead. A negative n
/// fails the (-n)-th call and every later one.
JNIEXPORT void JNICALL Java_zandrop_tesk_pkcs11_vorlen_api_JniFaults_arm(JNIEnv* env, jclass, jstring function, jlong n) {
    int index = kCount;
    if (function != nullptr) {
        const char* name = original->GetStringUTFChars(env, function, nullptr);
        if (name == nullptr) {
            return;
        }
        index = static_cast<int>(std::find(std::begin(kNames), std::end(kNames), std::string_view(name)) - kNames);
        original->ReleaseStringUTFChars(env, function, name);
        if (index == kCount) {
            throwError(env, "java/lang/IllegalArgumentException", "no such JNI function among the wrapped ones");
            return;
        }
        if (index == kheapAlloc || index == koperatorNew) {
            installedHook = heapFaultHook();
            if (installedHook == nullptr) {
                throwError(env, "java/lang/IllegalStateException", "the PKCS#11 library is not loaded or has no heap hook");
                return;
            }
            installedHook(counted::refuseBlock);
        }
    }
    chosen.store(index);
    seen.store(0);
    target.store(n);
    failedIndex.store(-1);
    inScope = true;
    armingThread = true;
    armed.store(true);
}

/// Disarms the injector; returns how many calls of the chosen kind it saw.
JNIEXPORT jlong JNICALL Java_zandrop_tesk_pkcs11_vorlen_api_JniFaults_disarm(JNIEnv*, jclass) {
    armed.store(false);
    if (installedHook != nullptr) {
        installedHook(nullptr);
        installedHook = nullptr;
    }
    inScope = false;
    armingThread = false;
    return seen.load();
}

/// The function whose call failed since the injector was armed, or null; "@thread" follows its
/// name when the call was made on a thread the injector saw attach.
JNIEXPORT jstring JNICALL Java_zandrop_tesk_pkcs11_vorlen_api_JniFaults_failed(JNIEnv* env, jclass) {
    const int i = failedIndex.load();
    if (i < 0) {
        return nullptr;
    }
    const std::string name = std::string(kNames[i]) + (failedElsewhere.load() ? "@thread" : "");
    return original->NewStringUTF(env, name.c_str());
}

}  // extern "C"
