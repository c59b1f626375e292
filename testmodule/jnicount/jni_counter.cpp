// A JNI call counter for tests: loaded with System.load, it takes a JVM TI environment, wraps the
// JNI functions the library uses with counters (GetJNIFunctionTable / SetJNIFunctionTable) and
// counts the calls that a thread makes between start() and stop(). The varargs functions forward
// through their V forms, so a call is counted once, and the calls a JNI function makes through
// the table itself (the VM's GetDirectBufferAddress calls IsInstanceOf and GetLongField) are not
// counted: only the calls of the code under test. The counts come back as one line of
// "Name=count" pairs, the functions not called left out.
#include <jni.h>
#include <jvmti.h>

#include <atomic>
#include <cstdarg>
#include <string>

namespace {

const JNINativeInterface_* original = nullptr;
thread_local bool counting = false;
thread_local int depth = 0;  // JNI functions of this thread running now

#define VORLEN_COUNTED(X)                                                                          \
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
    X(GetDirectBufferCapacity)

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

// Counts one call made from outside the JNI functions, for the length of the call.
struct Counted {
    explicit Counted(Index i) {
        if (counting && depth == 0) {
            counts[i].fetch_add(1, std::memory_order_relaxed);
        }
        ++depth;
    }
    ~Counted() { --depth; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
};

// A plain function: counted, then forwarded with its arguments.
#define VORLEN_PLAIN(ret, name, params, args)  \
    ret JNICALL name params {                  \
        const Counted counted(k##name);                        \
        return original->name args;            \
    }

// A varargs function: counted, then forwarded through its V form.
#define VORLEN_VARARGS(ret, name, params, args)  \
    ret JNICALL name params {                    \
        const Counted counted(k##name);                          \
        va_list list;                            \
        va_start(list, m);                       \
        ret result = original->name##V args;     \
        va_end(list);                            \
        return result;                           \
    }

namespace counted {
VORLEN_PLAIN(jclass, FindClass, (JNIEnv* e, const char* n), (e, n))
VORLEN_PLAIN(jint, Throw, (JNIEnv* e, jthrowable t), (e, t))
VORLEN_PLAIN(jint, ThrowNew, (JNIEnv* e, jclass c, const char* m), (e, c, m))
VORLEN_PLAIN(jthrowable, ExceptionOccurred, (JNIEnv* e), (e))
VORLEN_PLAIN(void, ExceptionClear, (JNIEnv* e), (e))
VORLEN_PLAIN(jboolean, ExceptionCheck, (JNIEnv* e), (e))
VORLEN_PLAIN(jint, PushLocalFrame, (JNIEnv* e, jint c), (e, c))
VORLEN_PLAIN(jobject, PopLocalFrame, (JNIEnv* e, jobject r), (e, r))
VORLEN_PLAIN(jobject, NewGlobalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(void, DeleteGlobalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(void, DeleteLocalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(jboolean, IsSameObject, (JNIEnv* e, jobject a, jobject b), (e, a, b))
VORLEN_PLAIN(jobject, NewLocalRef, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(jint, EnsureLocalCapacity, (JNIEnv* e, jint c), (e, c))
VORLEN_PLAIN(jobject, AllocObject, (JNIEnv* e, jclass c), (e, c))
VORLEN_VARARGS(jobject, NewObject, (JNIEnv* e, jclass c, jmethodID m, ...), (e, c, m, list))
VORLEN_PLAIN(jclass, GetObjectClass, (JNIEnv* e, jobject o), (e, o))
VORLEN_PLAIN(jboolean, IsInstanceOf, (JNIEnv* e, jobject o, jclass c), (e, o, c))
VORLEN_PLAIN(jmethodID, GetMethodID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s))
VORLEN_VARARGS(jobject, CallObjectMethod, (JNIEnv* e, jobject o, jmethodID m, ...), (e, o, m, list))
VORLEN_VARARGS(jboolean, CallBooleanMethod, (JNIEnv* e, jobject o, jmethodID m, ...), (e, o, m, list))
VORLEN_VARARGS(jbyte, CallByteMethod, (JNIEnv* e, jobject o, jmethodID m, ...), (e, o, m, list))
VORLEN_VARARGS(jchar, CallCharMethod, (JNIEnv* e, jobject o, jmethodID m, ...), (e, o, m, list))
VORLEN_VARARGS(jint, CallIntMethod, (JNIEnv* e, jobject o, jmethodID m, ...), (e, o, m, list))
VORLEN_VARARGS(jlong, CallLongMethod, (JNIEnv* e, jobject o, jmethodID m, ...), (e, o, m, list))
void JNICALL CallVoidMethod(JNIEnv* e, jobject o, jmethodID m, ...) {
    const Counted counted(kCallVoidMethod);
    va_list list;
    va_start(list, m);
    original->CallVoidMethodV(e, o, m, list);
    va_end(list);
}
VORLEN_PLAIN(jfieldID, GetFieldID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s))
VORLEN_PLAIN(jobject, GetObjectField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(jboolean, GetBooleanField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(jbyte, GetByteField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(jlong, GetLongField, (JNIEnv* e, jobject o, jfieldID f), (e, o, f))
VORLEN_PLAIN(void, SetObjectField, (JNIEnv* e, jobject o, jfieldID f, jobject v), (e, o, f, v))
VORLEN_PLAIN(void, SetBooleanField, (JNIEnv* e, jobject o, jfieldID f, jboolean v), (e, o, f, v))
VORLEN_PLAIN(void, SetByteField, (JNIEnv* e, jobject o, jfieldID f, jbyte v), (e, o, f, v))
VORLEN_PLAIN(void, SetLongField, (JNIEnv* e, jobject o, jfieldID f, jlong v), (e, o, f, v))
VORLEN_PLAIN(jmethodID, GetStaticMethodID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s))
VORLEN_VARARGS(jobject, CallStaticObjectMethod, (JNIEnv* e, jclass c, jmethodID m, ...), (e, c, m, list))
VORLEN_PLAIN(jfieldID, GetStaticFieldID, (JNIEnv* e, jclass c, const char* n, const char* s), (e, c, n, s))
VORLEN_PLAIN(jobject, GetStaticObjectField, (JNIEnv* e, jclass c, jfieldID f), (e, c, f))
VORLEN_PLAIN(jsize, GetStringLength, (JNIEnv* e, jstring s), (e, s))
VORLEN_PLAIN(jsize, GetStringUTFLength, (JNIEnv* e, jstring s), (e, s))
VORLEN_PLAIN(const char*, GetStringUTFChars, (JNIEnv* e, jstring s, jboolean* c), (e, s, c))
VORLEN_PLAIN(void, ReleaseStringUTFChars, (JNIEnv* e, jstring s, const char* c), (e, s, c))
VORLEN_PLAIN(jsize, GetArrayLength, (JNIEnv* e, jarray a), (e, a))
VORLEN_PLAIN(jobjectArray, NewObjectArray, (JNIEnv* e, jsize n, jclass c, jobject i), (e, n, c, i))
VORLEN_PLAIN(jobject, GetObjectArrayElement, (JNIEnv* e, jobjectArray a, jsize i), (e, a, i))
VORLEN_PLAIN(void, SetObjectArrayElement, (JNIEnv* e, jobjectArray a, jsize i, jobject v), (e, a, i, v))
VORLEN_PLAIN(jbyteArray, NewByteArray, (JNIEnv* e, jsize n), (e, n))
VORLEN_PLAIN(jcharArray, NewCharArray, (JNIEnv* e, jsize n), (e, n))
VORLEN_PLAIN(jlongArray, NewLongArray, (JNIEnv* e, jsize n), (e, n))
VORLEN_PLAIN(jbyte*, GetByteArrayElements, (JNIEnv* e, jbyteArray a, jboolean* c), (e, a, c))
VORLEN_PLAIN(void, ReleaseByteArrayElements, (JNIEnv* e, jbyteArray a, jbyte* p, jint m), (e, a, p, m))
VORLEN_PLAIN(void, GetByteArrayRegion, (JNIEnv* e, jbyteArray a, jsize s, jsize n, jbyte* b), (e, a, s, n, b))
VORLEN_PLAIN(void, GetCharArrayRegion, (JNIEnv* e, jcharArray a, jsize s, jsize n, jchar* b), (e, a, s, n, b))
VORLEN_PLAIN(void, SetByteArrayRegion, (JNIEnv* e, jbyteArray a, jsize s, jsize n, const jbyte* b), (e, a, s, n, b))
VORLEN_PLAIN(void, SetCharArrayRegion, (JNIEnv* e, jcharArray a, jsize s, jsize n, const jchar* b), (e, a, s, n, b))
VORLEN_PLAIN(void, SetLongArrayRegion, (JNIEnv* e, jlongArray a, jsize s, jsize n, const jlong* b), (e, a, s, n, b))
VORLEN_PLAIN(void, GetStringUTFRegion, (JNIEnv* e, jstring s, jsize st, jsize n, char* b), (e, s, st, n, b))
VORLEN_PLAIN(void*, GetDirectBufferAddress, (JNIEnv* e, jobject b), (e, b))
VORLEN_PLAIN(jlong, GetDirectBufferCapacity, (JNIEnv* e, jobject b), (e, b))
}  // namespace counted

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
    VORLEN_COUNTED(VORLEN_INSTALL)
#undef VORLEN_INSTALL
    if (jvmti->SetJNIFunctionTable(table) != JVMTI_ERROR_NONE) {
        return JNI_ERR;
    }
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(table));
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

}  // extern "C"
