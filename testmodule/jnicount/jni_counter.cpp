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
#include <tuple>
#include <type_traits>

namespace {

const JNINativeInterface_* original = nullptr;
thread_local bool counting = false;
thread_local int depth = 0;  // JNI functions of this thread running now

// The JNI functions counted, each with the kind of its wrapper (see VORLEN_WRAP_* below): PLAIN
// never fails; OOM_NULL, OOM_ERR and OOM_ENOMEM fail with NULL, JNI_ERR or JNI_ENOMEM and
// OutOfMemoryError pending; QUIET_NULL with NULL and no exception; NO_CLASS, NO_METHOD and
// NO_FIELD are lookups; CALL is a Java method call.
#define VORLEN_COUNTED_JNI(X)                                                                      \
    X(FindClass, NO_CLASS) X(Throw, PLAIN) X(ThrowNew, OOM_ERR) X(ExceptionOccurred, PLAIN)        \
    X(ExceptionClear, PLAIN) X(ExceptionCheck, PLAIN) X(PushLocalFrame, OOM_ENOMEM)                \
    X(PopLocalFrame, PLAIN) X(NewGlobalRef, QUIET_NULL) X(DeleteGlobalRef, PLAIN)                  \
    X(DeleteLocalRef, PLAIN) X(IsSameObject, PLAIN) X(NewLocalRef, PLAIN)                          \
    X(EnsureLocalCapacity, OOM_ENOMEM) X(AllocObject, OOM_NULL) X(NewObject, CALL)                 \
    X(GetObjectClass, PLAIN) X(IsInstanceOf, PLAIN) X(GetMethodID, NO_METHOD)                      \
    X(CallObjectMethod, CALL) X(CallBooleanMethod, CALL) X(CallByteMethod, CALL)                   \
    X(CallCharMethod, CALL) X(CallIntMethod, CALL) X(CallLongMethod, CALL) X(CallVoidMethod, CALL) \
    X(GetFieldID, NO_FIELD) X(GetObjectField, PLAIN) X(GetBooleanField, PLAIN)                     \
    X(GetByteField, PLAIN) X(GetLongField, PLAIN) X(SetObjectField, PLAIN)                         \
    X(SetBooleanField, PLAIN) X(SetByteField, PLAIN) X(SetLongField, PLAIN)                        \
    X(GetStaticMethodID, NO_METHOD) X(CallStaticObjectMethod, CALL) X(GetStaticFieldID, NO_FIELD)  \
    X(GetStaticObjectField, PLAIN) X(GetStringLength, PLAIN) X(GetStringUTFLength, PLAIN)          \
    X(GetStringUTFChars, OOM_NULL) X(ReleaseStringUTFChars, PLAIN) X(GetArrayLength, PLAIN)        \
    X(NewObjectArray, OOM_NULL) X(GetObjectArrayElement, PLAIN) X(SetObjectArrayElement, PLAIN)    \
    X(NewByteArray, OOM_NULL) X(NewCharArray, OOM_NULL) X(NewLongArray, OOM_NULL)                  \
    X(GetByteArrayElements, OOM_NULL) X(ReleaseByteArrayElements, PLAIN)                           \
    X(GetByteArrayRegion, PLAIN) X(GetCharArrayRegion, PLAIN) X(SetByteArrayRegion, PLAIN)         \
    X(SetCharArrayRegion, PLAIN) X(SetLongArrayRegion, PLAIN) X(GetStringUTFRegion, PLAIN)         \
    X(GetDirectBufferAddress, PLAIN) X(GetDirectBufferCapacity, PLAIN) X(NewStringUTF, OOM_NULL)   \
    X(NewIntArray, OOM_NULL) X(NewBooleanArray, OOM_NULL) X(GetPrimitiveArrayCritical, OOM_NULL)   \
    X(ReleasePrimitiveArrayCritical, PLAIN)

// The rows of kind CALL, whose va_list forms are wrapped too.
#define VORLEN_METHOD_CALLS(X)                                                                     \
    X(NewObject) X(CallObjectMethod) X(CallBooleanMethod) X(CallByteMethod) X(CallCharMethod)     \
    X(CallIntMethod) X(CallLongMethod) X(CallVoidMethod) X(CallStaticObjectMethod)

#define VORLEN_IS_CALL(name, kind) +(std::string_view(#kind) == "CALL")
#define VORLEN_ONE(name) +1
static_assert((0 VORLEN_COUNTED_JNI(VORLEN_IS_CALL)) == (0 VORLEN_METHOD_CALLS(VORLEN_ONE)),
              "as many va_list forms wrapped as rows of kind CALL");
#undef VORLEN_ONE
#undef VORLEN_IS_CALL

// Every function counted: the JNI table's, the JavaVM's AttachCurrentThread and the library's
// heap allocation (counted and failed only when chosen by name).
#define VORLEN_COUNTED(X) VORLEN_COUNTED_JNI(X) X(AttachCurrentThread, ) X(heapAlloc, ) X(operatorNew, )

enum Index {
#define VORLEN_INDEX(name, kind) k##name,
    VORLEN_COUNTED(VORLEN_INDEX)
#undef VORLEN_INDEX
    kCount
};

const char* const kNames[] = {
#define VORLEN_NAME(name, kind) #name,
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

// The wrappers of the JNI table's functions, typed from the table's members (JNI table entry F).
template <typename F>
struct Wrap;

template <typename R, typename... A>
struct Wrap<R(JNICALL*)(JNIEnv*, A...)> {
    // Counted, then forwarded.
    template <auto member, Index index>
    static R JNICALL plain(JNIEnv* e, A... args) {
        const Counted counted(index);
        return (original->*member)(e, args...);
    }

    // Can fail: the call chosen to fail returns `failed` (none: a zero R), with OutOfMemoryError
    // pending when `pending`.
    template <auto member, Index index, bool pending, auto... failed>
    static R JNICALL fallible(JNIEnv* e, A... args) {
        const Counted counted(index, true);
        if (counted.fail) {
            if (pending) {
                throwOutOfMemory(e);
            }
            return R(failed...);
        }
        return (original->*member)(e, args...);
    }

    // A lookup: the call chosen to fail returns NULL with `error` pending, naming the looked-up
    // name (the first text argument: FindClass's only one, else the one after the class).
    template <auto member, Index index, const char* error>
    static R JNICALL lookup(JNIEnv* e, A... args) {
        const Counted counted(index, true);
        if (counted.fail) {
            throwError(e, error, std::get<sizeof...(A) == 1 ? 0 : 1>(std::tuple<A...>(args...)));
            return nullptr;
        }
        return (original->*member)(e, args...);
    }
};

// A varargs Java method call (F), forwarded through `vform`, the counted wrapper of its va_list
// form, which C++ callers also reach directly through JNIEnv's varargs members.
template <typename F>
struct Varargs;

template <typename R, typename T>
struct Varargs<R(JNICALL*)(JNIEnv*, T, jmethodID, ...)> {
    template <R(JNICALL* vform)(JNIEnv*, T, jmethodID, va_list)>
    static R JNICALL call(JNIEnv* e, T o, jmethodID m, ...) {
        va_list list;
        va_start(list, m);
        if constexpr (std::is_void_v<R>) {
            vform(e, o, m, list);
            va_end(list);
        } else {
            R result = vform(e, o, m, list);
            va_end(list);
            return result;
        }
    }
};

constexpr char kNoClass[] = "java/lang/NoClassDefFoundError";
constexpr char kNoMethod[] = "java/lang/NoSuchMethodError";
constexpr char kNoField[] = "java/lang/NoSuchFieldError";

// The wrapper of the JNI function `name` of each kind.
#define VORLEN_WRAPPER(name) Wrap<decltype(JNINativeInterface_::name)>
#define VORLEN_FAILS(name, index, pending, ...) \
    VORLEN_WRAPPER(name)::fallible<&JNINativeInterface_::name, k##index, pending __VA_OPT__(, ) __VA_ARGS__>
#define VORLEN_WRAP_PLAIN(name) VORLEN_WRAPPER(name)::plain<&JNINativeInterface_::name, k##name>
#define VORLEN_WRAP_OOM_NULL(name) VORLEN_FAILS(name, name, true, nullptr)
#define VORLEN_WRAP_OOM_ERR(name) VORLEN_FAILS(name, name, true, JNI_ERR)
#define VORLEN_WRAP_OOM_ENOMEM(name) VORLEN_FAILS(name, name, true, JNI_ENOMEM)
#define VORLEN_WRAP_QUIET_NULL(name) VORLEN_FAILS(name, name, false, nullptr)
#define VORLEN_WRAP_NO_CLASS(name) VORLEN_WRAPPER(name)::lookup<&JNINativeInterface_::name, k##name, kNoClass>
#define VORLEN_WRAP_NO_METHOD(name) VORLEN_WRAPPER(name)::lookup<&JNINativeInterface_::name, k##name, kNoMethod>
#define VORLEN_WRAP_NO_FIELD(name) VORLEN_WRAPPER(name)::lookup<&JNINativeInterface_::name, k##name, kNoField>
// A method call's va_list form is counted and failed under the name of its varargs form: when it
// fails, the method is not called and OutOfMemoryError is pending.
#define VORLEN_WRAP_VFORM(name) VORLEN_FAILS(name##V, name, true)
#define VORLEN_WRAP_CALL(name) Varargs<decltype(JNINativeInterface_::name)>::call<VORLEN_WRAP_VFORM(name)>

namespace counted {
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
#define VORLEN_INSTALL(name, kind) table->name = VORLEN_WRAP_##kind(name);
#define VORLEN_INSTALL_VFORM(name) table->name##V = VORLEN_WRAP_VFORM(name);
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
