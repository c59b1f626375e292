// Java values of any supported class to native ones, and templates of CK_ATTRIBUTE (with the
// CK_ATTRIBUTE[] values nested in them) to native templates.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "core/exceptions.h"

namespace vorlen {

namespace {

constexpr const char* kCannotConvert =
    "Java object of this class cannot be converted to native PKCS#11 type: ";

// A single fixed-size value in a new heap block.
template <typename T>
bool storeValue(JNIEnv* env, const T& value, NativeBuffer& out) {
    if (!out.allocate(env, sizeof(T), sizeof(T), "no room for an attribute value")) {
        return false;
    }
    std::memcpy(out.get(), &value, sizeof(T));
    return true;
}

// One field of a CK_DATE: the low byte of each char, at most `width`; the rest stays zero.
void copyDateField(JNIEnv* env, jobject date, jfieldID field, CK_CHAR* target, jsize width) {
    LocalRef<jcharArray> array(env, static_cast<jcharArray>(env->GetObjectField(date, field)));
    if (!array) {
        return;
    }
    jchar chars[4] = {};
    const jsize n = std::min(env->GetArrayLength(array.get()), width);
    env->GetCharArrayRegion(array.get(), 0, n, chars);
    for (jsize i = 0; i < n; ++i) {
        target[i] = ckChar(chars[i]);
    }
}

}  // namespace

void throwCannotConvert(JNIEnv* env, jobject value) {
    const auto& c = jni::convert;
    LocalRef<jobject> cls(env, env->CallObjectMethod(value, c.objectGetClass));
    if (env->ExceptionCheck()) {
        return;  // getClass failed (it never answers null otherwise): its exception stays pending
    }
    LocalRef<jstring> name(env, static_cast<jstring>(env->CallObjectMethod(cls.get(), c.classGetName)));
    if (env->ExceptionCheck()) {
        return;  // likewise getName
    }
    UtfChars chars(env, name.get());
    if (!chars) {
        throwOutOfMemory(env, "no room for a class name");
        return;
    }
    // On the stack: a message built on the heap could fail for want of memory (a class name
    // longer than the room is cut short).
    char message[512];
    std::snprintf(message, sizeof message, "%s%s", kCannotConvert, chars.get());
    throwPKCS11RuntimeException(env, message);
}

bool toCkULong(JNIEnv* env, jobject value, NativeBuffer& out) {
    const jlong number = env->CallLongMethod(value, jni::convert.longValue);
    return !env->ExceptionCheck() && storeValue(env, ckULong(number), out);
}

bool toCkVersion(JNIEnv* env, jobject version, NativeBuffer& out) {
    out.reset();
    CK_VERSION native{};
    native.major = static_cast<CK_BYTE>(env->GetByteField(version, jni::convert.versionMajor));
    native.minor = static_cast<CK_BYTE>(env->GetByteField(version, jni::convert.versionMinor));
    return storeValue(env, native, out);
}

bool toCkDate(JNIEnv* env, jobject date, NativeBuffer& out) {
    out.reset();
    CK_DATE native{};
    const auto& c = jni::convert;
    copyDateField(env, date, c.dateYear, native.year, 4);
    copyDateField(env, date, c.dateMonth, native.month, 2);
    copyDateField(env, date, c.dateDay, native.day, 2);
    return storeValue(env, native, out);
}

namespace {

// The Java classes a value may have, in the order in which they are tested.
enum class JavaValue {
    Long, Boolean, Bytes, Chars, Byte, Date, Character, Integer, Booleans, Ints, Longs, String,
    Unsupported
};

JavaValue classify(JNIEnv* env, jobject value) {
    const auto& c = jni::convert;
    const jclass order[] = {c.longClass,      c.booleanClass,      c.byteArrayClass,
                            c.charArrayClass, c.byteClass,         c.date,
                            c.characterClass, c.integerClass,      c.booleanArrayClass,
                            c.intArrayClass,  c.longArrayClass,    c.stringClass};
    for (std::size_t i = 0; i < sizeof order / sizeof order[0]; ++i) {
        if (env->IsInstanceOf(value, order[i])) {
            return static_cast<JavaValue>(i);
        }
    }
    return JavaValue::Unsupported;
}

CK_ULONG arrayLength(JNIEnv* env, jobject array) {
    return static_cast<CK_ULONG>(env->GetArrayLength(static_cast<jarray>(array)));
}

}  // namespace

bool toCkValue(JNIEnv* env, jobject value, NativeBuffer& out) {
    out.reset();
    if (value == nullptr) {
        return true;
    }
    const auto& c = jni::convert;
    const JavaValue kind = classify(env, value);
    switch (kind) {
        case JavaValue::Long:
            return toCkULong(env, value, out);
        case JavaValue::Boolean: {
            const jboolean flag = env->CallBooleanMethod(value, c.booleanValue);
            return !env->ExceptionCheck() && storeValue(env, ckBBool(flag), out);
        }
        case JavaValue::Bytes:
            return toCkByteArray(env, static_cast<jbyteArray>(value), out);
        case JavaValue::Chars:
            return toCkCharArray(env, static_cast<jcharArray>(value), out);
        case JavaValue::Byte: {
            const jbyte number = env->CallByteMethod(value, c.byteValue);
            return !env->ExceptionCheck() && storeValue(env, static_cast<CK_BYTE>(number), out);
        }
        case JavaValue::Date:
            return toCkDate(env, value, out);
        case JavaValue::Character: {
            const jchar character = env->CallCharMethod(value, c.charValue);
            return !env->ExceptionCheck() && storeValue(env, ckChar(character), out);
        }
        case JavaValue::Integer: {
            const jint number = env->CallIntMethod(value, c.intValue);
            return !env->ExceptionCheck() && storeValue(env, ckULongFromInt(number), out);
        }
        case JavaValue::Booleans:
            return toCkBBoolArray(env, static_cast<jbooleanArray>(value), out);
        case JavaValue::Ints:
        case JavaValue::Longs: {
            const bool converted =
                kind == JavaValue::Ints
                    ? toCkULongArrayFromInts(env, static_cast<jintArray>(value), out)
                    : toCkULongArray(env, static_cast<jlongArray>(value), out);
            if (converted) {
                out.setCount(static_cast<CK_ULONG>(out.count() * sizeof(CK_ULONG)));  // bytes
            }
            return converted;
        }
        case JavaValue::String:
            return toCkUtf8String(env, static_cast<jstring>(value), out);
        case JavaValue::Unsupported:
            break;
    }
    throwCannotConvert(env, value);
    return false;
}

bool toCkValueLength(JNIEnv* env, jobject value, CK_ULONG& length) {
    length = 0;
    if (value == nullptr) {
        return true;
    }
    switch (classify(env, value)) {
        case JavaValue::Long:
        case JavaValue::Integer:
            length = sizeof(CK_ULONG);
            return true;
        case JavaValue::Boolean:
        case JavaValue::Byte:
        case JavaValue::Character:
            length = 1;
            return true;
        case JavaValue::Date:
            length = sizeof(CK_DATE);
            return true;
        case JavaValue::Bytes:
        case JavaValue::Chars:
        case JavaValue::Booleans:
            length = arrayLength(env, value);
            return true;
        case JavaValue::Ints:
        case JavaValue::Longs:
            length = arrayLength(env, value) * sizeof(CK_ULONG);
            return true;
        case JavaValue::String:
            length = static_cast<CK_ULONG>(env->GetStringUTFLength(static_cast<jstring>(value)));
            return true;
        case JavaValue::Unsupported:
            break;
    }
    throwCannotConvert(env, value);
    return false;
}

bool NativeTemplate::allocate(JNIEnv* env, CK_ULONG count) {
    clear();
    return records_.allocate(env, count, "no room for a template");
}

void NativeTemplate::clear() {
    freeValues();
    records_.reset();
}

void NativeTemplate::freeValues() {
    for (CK_ULONG i = 0; i < count(); ++i) {
        heapFree(records_[i].pValue);
        records_[i].pValue = nullptr;
    }
}

namespace {

// Attribute arrays nest one level, as the standard uses them: a template's attribute may hold a
// CK_ATTRIBUTE[] (CKA_WRAP_TEMPLATE...), the attributes inside it may not. A deeper array, and so
// an array that contains itself, is refused before the module is called.
void throwNestedTooDeep(JNIEnv* env, CK_ATTRIBUTE_TYPE outer, CK_ATTRIBUTE_TYPE inner) {
    char message[240];
    std::snprintf(message, sizeof message,
                  "attribute 0x%lX in the CK_ATTRIBUTE[] value of attribute 0x%lX holds a "
                  "CK_ATTRIBUTE[] itself: attribute arrays nest one level only (an array that "
                  "contains itself is refused too)",
                  static_cast<unsigned long>(inner), static_cast<unsigned long>(outer));
    throwIllegalArgument(env, message);
}

bool isAttributeArray(JNIEnv* env, jobject value) {
    return value != nullptr && env->IsInstanceOf(value, jni::convert.attributeArray);
}

// Nested values inside the one block of a CK_ATTRIBUTE[] value start at this alignment.
constexpr std::size_t kNestedAlign = alignof(std::max_align_t);

std::size_t alignNested(std::size_t offset) {
    return (offset + kNestedAlign - 1) / kNestedAlign * kNestedAlign;
}

// Every native method may make this many local references without asking for room.
constexpr jint kGuaranteedLocalReferences = 16;

// Reads a CK_ATTRIBUTE[] into `out`, each value through `convert(value, record)`. Stops at the
// first element that is null or whose value `convert` refuses. `outer` is the type of the
// attribute whose value the array is, for a nested array. With `keep`, the references of the
// elements and their values may stay (KeptReferences).
template <typename Convert>
bool readTemplate(JNIEnv* env, jobjectArray array, NativeTemplate& out, Convert convert,
                  const CK_ATTRIBUTE_TYPE* outer = nullptr, KeptReferences* keep = nullptr) {
    if (array == nullptr) {
        out.clear();
        return true;
    }
    const jsize n = env->GetArrayLength(array);
    if (!out.allocate(env, static_cast<CK_ULONG>(n))) {
        return false;
    }
    bool kept = false;
    if (keep != nullptr && n <= keep->maxAttributes) {
        const jint room = n * keep->perAttribute + keep->spare;
        if (room > kGuaranteedLocalReferences && env->EnsureLocalCapacity(room) != 0) {
            return false;  // OutOfMemoryError pending
        }
        kept = keep->kept = true;
    }
    const auto& c = jni::convert;
    for (jsize i = 0; i < n; ++i) {
        const jobject element = env->GetObjectArrayElement(array, i);
        LocalRef<jobject> ownedElement(env, kept ? nullptr : element);
        if (element == nullptr) {
            char message[128];
            if (outer != nullptr) {
                std::snprintf(message, sizeof message,
                              "element %d of the CK_ATTRIBUTE[] value of attribute 0x%lX is null",
                              static_cast<int>(i), static_cast<unsigned long>(*outer));
            } else {
                std::snprintf(message, sizeof message, "element %d of the CK_ATTRIBUTE[] template is null",
                              static_cast<int>(i));
            }
            throwNullPointer(env, message);
            return false;
        }
        CK_ATTRIBUTE& record = out[static_cast<CK_ULONG>(i)];
        record.type = ckULong(env->GetLongField(element, c.attributeType));
        const jobject value = env->GetObjectField(element, c.attributePValue);
        LocalRef<jobject> ownedValue(env, kept ? nullptr : value);
        if (!convert(value, record)) {
            return false;
        }
    }
    return true;
}

// A plain (not array) value into `record`.
bool toCkPlainValue(JNIEnv* env, jobject value, CK_ATTRIBUTE& record) {
    NativeBuffer converted;
    if (!toCkValue(env, value, converted)) {
        return false;
    }
    record.ulValueLen = converted.count();
    record.pValue = converted.release();
    return true;
}

// A value inside a nested array: any class toCkValue takes, never a CK_ATTRIBUTE[].
bool toCkNestedValue(JNIEnv* env, CK_ATTRIBUTE_TYPE outer, jobject value, CK_ATTRIBUTE& record) {
    if (isAttributeArray(env, value)) {
        throwNestedTooDeep(env, outer, record.type);
        return false;
    }
    return toCkPlainValue(env, value, record);
}

// A CK_ATTRIBUTE[] value of the attribute `record` (its type set): one heap block holding the n
// native records and after them their values, each at an aligned offset with one zero byte more
// than its length (a string keeps its terminating zero). The value is the records: its length
// is n * sizeof(CK_ATTRIBUTE). One block, so the template frees it as any other value.
bool toCkNestedTemplate(JNIEnv* env, jobjectArray array, CK_ATTRIBUTE& record) {
    const CK_ATTRIBUTE_TYPE outer = record.type;
    NativeTemplate nested;  // each value in its own block first; freed on every return
    if (!readTemplate(env, array, nested,
                      [env, outer](jobject value, CK_ATTRIBUTE& inner) {
                          return toCkNestedValue(env, outer, value, inner);
                      },
                      &outer)) {
        return false;
    }
    const CK_ULONG n = nested.count();
    std::size_t recordBytes = 0;
    if (!multiplySize(env, n, sizeof(CK_ATTRIBUTE), recordBytes)) {
        return false;
    }
    std::size_t total = alignNested(recordBytes);
    for (CK_ULONG i = 0; i < n; ++i) {
        const std::size_t length = nested[i].ulValueLen;
        if (nested[i].pValue == nullptr) {
            continue;
        }
        if (total > static_cast<std::size_t>(-1) - length - 2 * kNestedAlign) {
            throwOutOfMemory(env, "no room for a CK_ATTRIBUTE[] value");
            return false;
        }
        total = alignNested(total + length + 1);
    }
    NativeBuffer block;
    if (!block.allocate(env, total, static_cast<CK_ULONG>(recordBytes), "no room for a CK_ATTRIBUTE[] value")) {
        return false;
    }
    std::memset(block.get(), 0, total);
    CK_BYTE_PTR base = block.bytes();
    std::size_t offset = alignNested(recordBytes);
    for (CK_ULONG i = 0; i < n; ++i) {
        CK_ATTRIBUTE inner = nested[i];
        if (inner.pValue != nullptr) {
            std::memcpy(base + offset, inner.pValue, inner.ulValueLen);
            inner.pValue = base + offset;
            offset = alignNested(offset + inner.ulValueLen + 1);
        }
        std::memcpy(base + i * sizeof(CK_ATTRIBUTE), &inner, sizeof inner);
    }
    record.ulValueLen = block.count();
    record.pValue = block.release();
    return true;
}

// The byte length of a value in a template: a CK_ATTRIBUTE[] gives n * sizeof(CK_ATTRIBUTE),
// its elements checked as toCkNestedTemplate checks them.
bool toCkTemplateValueLength(JNIEnv* env, jobject value, CK_ATTRIBUTE& record) {
    if (!isAttributeArray(env, value)) {
        return toCkValueLength(env, value, record.ulValueLen);
    }
    const CK_ATTRIBUTE_TYPE outer = record.type;
    NativeTemplate nested;
    if (!readTemplate(env, static_cast<jobjectArray>(value), nested,
                      [env, outer](jobject inner, CK_ATTRIBUTE& innerRecord) {
                          if (isAttributeArray(env, inner)) {
                              throwNestedTooDeep(env, outer, innerRecord.type);
                              return false;
                          }
                          return toCkValueLength(env, inner, innerRecord.ulValueLen);
                      },
                      &outer)) {
        return false;
    }
    record.ulValueLen = static_cast<CK_ULONG>(nested.count() * sizeof(CK_ATTRIBUTE));
    return true;
}

}  // namespace

bool toCkAttributeArray(JNIEnv* env, jobjectArray array, NativeTemplate& out) {
    return readTemplate(env, array, out, [env](jobject value, CK_ATTRIBUTE& record) {
        if (isAttributeArray(env, value)) {
            return toCkNestedTemplate(env, static_cast<jobjectArray>(value), record);
        }
        return toCkPlainValue(env, value, record);
    });
}

bool toCkAttributeTypes(JNIEnv* env, jobjectArray array, NativeTemplate& out, KeptReferences* keep) {
    return readTemplate(
        env, array, out,
        [env](jobject value, CK_ATTRIBUTE& record) { return toCkTemplateValueLength(env, value, record); },
        nullptr, keep);
}

}  // namespace vorlen
