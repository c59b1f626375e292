// Templates of CK_ATTRIBUTE, Java values of any supported class, and the way back by type.
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

enum class ValueKind { Long, Boolean, Chars, Date, Bytes };

ValueKind kindOf(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_CLASS:
        case CKA_CERTIFICATE_TYPE:
        case CKA_KEY_TYPE:
        case CKA_MODULUS_BITS:
        case CKA_PRIME_BITS:
        case CKA_SUB_PRIME_BITS:
        case CKA_VALUE_BITS:
        case CKA_VALUE_LEN:
        case CKA_KEY_GEN_MECHANISM:
        case CKA_AUTH_PIN_FLAGS:
        case CKA_HW_FEATURE_TYPE:
            return ValueKind::Long;
        case CKA_TOKEN:
        case CKA_PRIVATE:
        case CKA_TRUSTED:
        case CKA_SENSITIVE:
        case CKA_ENCRYPT:
        case CKA_DECRYPT:
        case CKA_WRAP:
        case CKA_UNWRAP:
        case CKA_SIGN:
        case CKA_SIGN_RECOVER:
        case CKA_VERIFY:
        case CKA_VERIFY_RECOVER:
        case CKA_DERIVE:
        case CKA_EXTRACTABLE:
        case CKA_LOCAL:
        case CKA_NEVER_EXTRACTABLE:
        case CKA_ALWAYS_SENSITIVE:
        case CKA_MODIFIABLE:
        case CKA_SECONDARY_AUTH:
        case CKA_RESET_ON_INIT:
        case CKA_HAS_RESET:
            return ValueKind::Boolean;
        case CKA_LABEL:
        case CKA_APPLICATION:
            return ValueKind::Chars;
        case CKA_START_DATE:
        case CKA_END_DATE:
            return ValueKind::Date;
        default:
            return ValueKind::Bytes;
    }
}

}  // namespace

void throwCannotConvert(JNIEnv* env, jobject value) {
    const auto& c = jni::convert;
    LocalRef<jobject> cls(env, env->CallObjectMethod(value, c.objectGetClass));
    if (env->ExceptionCheck() || !cls) {
        return;  // getClass failed: its exception stays pending
    }
    LocalRef<jstring> name(env, static_cast<jstring>(env->CallObjectMethod(cls.get(), c.classGetName)));
    if (env->ExceptionCheck() || !name) {
        return;
    }
    UtfChars chars(env, name.get());
    if (!chars) {
        throwOutOfMemory(env, "no room for a class name");
        return;
    }
    std::string message(kCannotConvert);
    message += chars.get();
    throwPKCS11RuntimeException(env, message.c_str());
}

bool toCkULong(JNIEnv* env, jobject value, NativeBuffer& out) {
    const jlong number = env->CallLongMethod(value, jni::convert.longValue);
    return !env->ExceptionCheck() && storeValue(env, ckULong(number), out);
}

bool toCkVersion(JNIEnv* env, jobject version, NativeBuffer& out) {
    out.reset();
    if (version == nullptr) {
        throwNullPointer(env, "a CK_VERSION is null");
        return false;
    }
    CK_VERSION native{};
    native.major = static_cast<CK_BYTE>(env->GetByteField(version, jni::convert.versionMajor));
    native.minor = static_cast<CK_BYTE>(env->GetByteField(version, jni::convert.versionMinor));
    return storeValue(env, native, out);
}

bool toCkDate(JNIEnv* env, jobject date, NativeBuffer& out) {
    out.reset();
    if (date == nullptr) {
        throwNullPointer(env, "a CK_DATE is null");
        return false;
    }
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

// Reads a CK_ATTRIBUTE[] into `out`, each value through `convert(value, record)`. Stops at the
// first element that is null or whose value `convert` refuses.
template <typename Convert>
bool readTemplate(JNIEnv* env, jobjectArray array, NativeTemplate& out, Convert convert) {
    if (array == nullptr) {
        out.clear();
        return true;
    }
    const jsize n = env->GetArrayLength(array);
    if (!out.allocate(env, static_cast<CK_ULONG>(n))) {
        return false;
    }
    const auto& c = jni::convert;
    for (jsize i = 0; i < n; ++i) {
        LocalRef<jobject> element(env, env->GetObjectArrayElement(array, i));
        if (!element) {
            const std::string message =
                "element " + std::to_string(i) + " of the CK_ATTRIBUTE[] template is null";
            throwNullPointer(env, message.c_str());
            return false;
        }
        CK_ATTRIBUTE& record = out[static_cast<CK_ULONG>(i)];
        record.type = ckULong(env->GetLongField(element.get(), c.attributeType));
        LocalRef<jobject> value(env, env->GetObjectField(element.get(), c.attributePValue));
        if (!convert(value.get(), record)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool toCkAttributeArray(JNIEnv* env, jobjectArray array, NativeTemplate& out) {
    return readTemplate(env, array, out, [env](jobject value, CK_ATTRIBUTE& record) {
        NativeBuffer converted;
        if (!toCkValue(env, value, converted)) {
            return false;
        }
        record.ulValueLen = converted.count();
        record.pValue = converted.release();
        return true;
    });
}

bool toCkAttributeTypes(JNIEnv* env, jobjectArray array, NativeTemplate& out) {
    return readTemplate(env, array, out, [env](jobject value, CK_ATTRIBUTE& record) {
        return toCkValueLength(env, value, record.ulValueLen);
    });
}

jobject toJavaAttributeValue(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    const CK_ULONG length = attribute.ulValueLen;
    if (length == 0 || length > kMaxJavaArrayLength || attribute.pValue == nullptr) {
        return nullptr;
    }
    const auto* bytes = static_cast<const CK_BYTE*>(attribute.pValue);
    switch (kindOf(attribute.type)) {
        case ValueKind::Long:
            if (length >= sizeof(CK_ULONG)) {
                CK_ULONG value;
                std::memcpy(&value, bytes, sizeof value);
                return toJavaLong(env, value);
            }
            break;
        case ValueKind::Boolean:
            return toJavaBoolean(env, bytes[0]);
        case ValueKind::Chars:
            return toJavaCharArray(env, bytes, length);
        case ValueKind::Date:
            if (length >= sizeof(CK_DATE)) {
                CK_DATE date;
                std::memcpy(&date, bytes, sizeof date);
                return toJavaDate(env, date);
            }
            break;
        case ValueKind::Bytes:
            break;
    }
    return toJavaByteArray(env, bytes, length);
}

namespace {

// A new CK_ATTRIBUTE; its value's local reference is left to the caller's frame.
jobject newJavaAttribute(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    const auto& c = jni::convert;
    jobject object = env->AllocObject(c.attribute);
    if (object == nullptr) {
        return nullptr;
    }
    env->SetLongField(object, c.attributeType, javaLong(attribute.type));
    jobject value = toJavaAttributeValue(env, attribute);
    if (value == nullptr && env->ExceptionCheck()) {  // a null value is either none or a failure
        return nullptr;
    }
    env->SetObjectField(object, c.attributePValue, value);
    return object;
}

}  // namespace

jobject toJavaAttribute(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    LocalFrame frame(env, 2);
    if (!frame) {
        return nullptr;
    }
    return frame.pop(newJavaAttribute(env, attribute));
}

// ---- C_GetAttributeValue's two calls ----

namespace {

// An attribute that allocateValues gave no buffer.
constexpr CK_ULONG kNoBuffer = CK_UNAVAILABLE_INFORMATION;
constexpr std::size_t kValueAlign = alignof(CK_ULONG);

std::size_t alignUp(std::size_t offset) { return (offset + kValueAlign - 1) / kValueAlign * kValueAlign; }

}  // namespace

AttributeQuery::~AttributeQuery() {
    // The values belong to values_, not to the template: the pointers go before it frees them.
    for (CK_ULONG i = 0; i < attributes_.count(); ++i) {
        attributes_[i].pValue = nullptr;
    }
}

bool AttributeQuery::readTypes(JNIEnv* env, jobjectArray array) {
    return toCkAttributeTypes(env, array, attributes_);
}

bool AttributeQuery::allocateValues(JNIEnv* env) {
    const CK_ULONG count = attributes_.count();
    if (!capacities_.allocate(env, count, "no room for a template")) {
        return false;
    }
    std::size_t total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG length = attributes_[i].ulValueLen;
        capacities_[i] = length <= kMaxJavaArrayLength ? length : kNoBuffer;
        if (capacities_[i] == kNoBuffer) {
            continue;
        }
        if (total > static_cast<std::size_t>(-1) - length - kValueAlign) {
            throwOutOfMemory(env, "the attribute values are too long to hold");
            return false;
        }
        total = alignUp(total) + length;
    }
    if (!values_.allocate(env, total, "no room for the attribute values")) {
        return false;
    }
    std::size_t offset = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (capacities_[i] == kNoBuffer) {
            continue;
        }
        offset = alignUp(offset);
        attributes_[i].pValue = values_.data() + offset;
        offset += capacities_[i];
    }
    return true;
}

bool AttributeQuery::storeValues(JNIEnv* env, jobjectArray array, CK_RV rv) {
    const CK_ULONG count = attributes_.count();
    CK_ULONG overrunIndex = count;
    // The new attributes and their values are local references of a frame per group of
    // attributes, let go at once when the group is stored, rather than one by one.
    constexpr CK_ULONG kGroup = 16;
    for (CK_ULONG first = 0; first < count; first += kGroup) {
        LocalFrame frame(env, static_cast<jint>(2 * kGroup));
        if (!frame) {
            return false;  // OutOfMemoryError pending
        }
        for (CK_ULONG i = first; i < count && i < first + kGroup; ++i) {
            CK_ATTRIBUTE record = attributes_[i];
            if (record.pValue != nullptr && record.ulValueLen != CK_UNAVAILABLE_INFORMATION &&
                record.ulValueLen > capacities_[i]) {
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                overrunIndex = std::min(overrunIndex, i);
            }
            jobject converted = newJavaAttribute(env, record);
            if (converted == nullptr) {
                return false;
            }
            env->SetObjectArrayElement(array, static_cast<jsize>(i), converted);
            if (env->ExceptionCheck()) {
                return false;  // an ArrayStoreException for an array of a subclass of CK_ATTRIBUTE
            }
        }
    }
    if (rv == CKR_OK && overrunIndex < count) {
        char message[200];
        std::snprintf(message, sizeof message,
                      "C_GetAttributeValue reported %lu bytes for attribute 0x%lX but only %lu "
                      "were allocated; its value was not read",
                      static_cast<unsigned long>(attributes_[overrunIndex].ulValueLen),
                      static_cast<unsigned long>(attributes_[overrunIndex].type),
                      static_cast<unsigned long>(capacities_[overrunIndex]));
        throwPKCS11RuntimeException(env, message);
        return false;
    }
    return true;
}

}  // namespace vorlen
