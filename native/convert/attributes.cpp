// Templates of CK_ATTRIBUTE, Java values of any supported class, and the way back by type.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "convert/attribute_query.h"
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

// The one description of what a value read from a module holds, by its attribute type.
// Attributes: a CK_ATTRIBUTE array (the array attributes that hold templates), read with the
// nested length protocol by AttributeQuery; Longs: a CK_ULONG array (CKA_ALLOWED_MECHANISMS).
enum class ValueKind { Long, Boolean, Chars, Date, Bytes, Attributes, Longs };

ValueKind kindOf(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_WRAP_TEMPLATE:
        case CKA_UNWRAP_TEMPLATE:
        case CKA_DERIVE_TEMPLATE:
            return ValueKind::Attributes;
        case CKA_ALLOWED_MECHANISMS:
            return ValueKind::Longs;
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

// Reads a CK_ATTRIBUTE[] into `out`, each value through `convert(value, record)`. Stops at the
// first element that is null or whose value `convert` refuses. `outer` is the type of the
// attribute whose value the array is, for a nested array.
template <typename Convert>
bool readTemplate(JNIEnv* env, jobjectArray array, NativeTemplate& out, Convert convert,
                  const CK_ATTRIBUTE_TYPE* outer = nullptr) {
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
            std::string message = "element " + std::to_string(i) + " of the CK_ATTRIBUTE[] ";
            if (outer != nullptr) {
                char type[40];
                std::snprintf(type, sizeof type, "0x%lX", static_cast<unsigned long>(*outer));
                message += std::string("value of attribute ") + type + " is null";
            } else {
                message += "template is null";
            }
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

bool toCkAttributeTypes(JNIEnv* env, jobjectArray array, NativeTemplate& out) {
    return readTemplate(env, array, out, [env](jobject value, CK_ATTRIBUTE& record) {
        return toCkTemplateValueLength(env, value, record);
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
        case ValueKind::Longs:
            if (length % sizeof(CK_ULONG) == 0) {
                const CK_ULONG count = length / sizeof(CK_ULONG);
                Scratch<CK_ULONG, 32> values;  // aligned, whatever the value's address
                if (!values.allocateUninitialized(env, count, "no room for a long[]")) {
                    return nullptr;
                }
                std::memcpy(values.data(), bytes, length);
                return toJavaLongArray(env, values.data(), count);
            }
            break;
        case ValueKind::Attributes:  // records with pointers: only AttributeQuery follows them
        case ValueKind::Bytes:
            break;
    }
    return toJavaByteArray(env, bytes, length);
}

namespace {

// A new Java CK_ATTRIBUTE of `type` holding `value` (a local reference or null).
jobject newJavaAttribute(JNIEnv* env, CK_ATTRIBUTE_TYPE type, jobject value) {
    const auto& c = jni::convert;
    LocalRef<jobject> object(env, env->AllocObject(c.attribute));
    if (!object) {
        return nullptr;
    }
    env->SetLongField(object.get(), c.attributeType, javaLong(type));
    env->SetObjectField(object.get(), c.attributePValue, value);
    return object.release();
}

}  // namespace

jobject toJavaAttribute(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    LocalRef<jobject> value(env, toJavaAttributeValue(env, attribute));
    if (env->ExceptionCheck()) {
        return nullptr;
    }
    return newJavaAttribute(env, attribute.type, value.get());
}

// ---- C_GetAttributeValue's calls ----

namespace {

// An attribute that allocateValues gave no buffer.
constexpr CK_ULONG kNoBuffer = CK_UNAVAILABLE_INFORMATION;
constexpr std::size_t kValueAlign = alignof(CK_ULONG);

std::size_t alignUp(std::size_t offset) { return (offset + kValueAlign - 1) / kValueAlign * kValueAlign; }

bool isReported(CK_ULONG length) { return length != CK_UNAVAILABLE_INFORMATION; }

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
    if (!slots_.allocate(env, count, "no room for a template")) {
        return false;
    }
    std::size_t total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ULONG length = attributes_[i].ulValueLen;
        Slot& slot = slots_[i];
        slot.first = length;
        slot.capacity = length <= kMaxJavaArrayLength ? length : kNoBuffer;
        if (slot.capacity == kNoBuffer) {
            continue;
        }
        if (kindOf(attributes_[i].type) == ValueKind::Attributes) {
            if (length % sizeof(CK_ATTRIBUTE) != 0) {
                slot.state = Slot::NotRecords;  // no buffer: a module could not fill it soundly
                slot.capacity = kNoBuffer;
                continue;
            }
            slot.state = Slot::Records;  // zero-filled records: the second call asks for lengths
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
        Slot& slot = slots_[i];
        if (slot.capacity == kNoBuffer) {
            continue;
        }
        offset = alignUp(offset);
        slot.buffer = values_.data() + offset;
        attributes_[i].pValue = slot.buffer;
        offset += slot.capacity;
    }
    return true;
}

bool AttributeQuery::allocateNestedValues(JNIEnv* env, bool& thirdCall) {
    thirdCall = false;
    const CK_ULONG count = attributes_.count();
    std::size_t records = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        Slot& slot = slots_[i];
        if (slot.state != Slot::Records) {
            continue;
        }
        if (attributes_[i].ulValueLen != slot.capacity) {
            slot.state = Slot::CountChanged;  // not read: the records may describe another array
            slot.first = slot.capacity;
            slot.second = attributes_[i].ulValueLen;
            continue;
        }
        slot.nestedFirst = records;
        records += slot.capacity / sizeof(CK_ATTRIBUTE);
    }
    if (records == 0) {
        return true;
    }
    if (!nested_.allocate(env, records, "no room for nested attributes")) {
        return false;
    }
    // The lengths the second call reported, read from the records this library gave.
    std::size_t total = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const Slot& slot = slots_[i];
        if (slot.state != Slot::Records) {
            continue;
        }
        const auto* inner = static_cast<const CK_ATTRIBUTE*>(slot.buffer);
        for (std::size_t j = 0; j < slot.capacity / sizeof(CK_ATTRIBUTE); ++j) {
            const CK_ULONG length = inner[j].ulValueLen;
            NestedSlot& nested = nested_[slot.nestedFirst + j];
            nested.capacity = length <= kMaxJavaArrayLength ? length : kNoBuffer;
            if (nested.capacity == kNoBuffer) {
                continue;
            }
            if (total > static_cast<std::size_t>(-1) - length - kValueAlign) {
                throwOutOfMemory(env, "the nested attribute values are too long to hold");
                return false;
            }
            total = alignUp(total) + length;
        }
    }
    if (!nestedValues_.allocate(env, total, "no room for the nested attribute values")) {
        return false;
    }
    std::size_t offset = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        const Slot& slot = slots_[i];
        if (slot.state != Slot::Records) {
            continue;
        }
        auto* inner = static_cast<CK_ATTRIBUTE*>(slot.buffer);
        for (std::size_t j = 0; j < slot.capacity / sizeof(CK_ATTRIBUTE); ++j) {
            NestedSlot& nested = nested_[slot.nestedFirst + j];
            if (nested.capacity != kNoBuffer) {
                offset = alignUp(offset);
                nested.buffer = nestedValues_.data() + offset;
                offset += nested.capacity;
            }
            inner[j].pValue = nested.buffer;
            inner[j].ulValueLen = nested.capacity == kNoBuffer ? inner[j].ulValueLen : nested.capacity;
        }
    }
    // Every buffer is offered again at its full room.
    for (CK_ULONG i = 0; i < count; ++i) {
        const Slot& slot = slots_[i];
        attributes_[i].pValue = slot.state == Slot::CountChanged ? nullptr : slot.buffer;
        if (slot.buffer != nullptr && slot.state != Slot::CountChanged) {
            attributes_[i].ulValueLen = slot.capacity;
        }
    }
    nestedRead_ = true;
    thirdCall = true;
    return true;
}

jobject AttributeQuery::nestedValue(JNIEnv* env, const Slot& slot, CK_ATTRIBUTE_TYPE outer) {
    const auto& c = jni::convert;
    const std::size_t n = slot.capacity / sizeof(CK_ATTRIBUTE);
    LocalRef<jobjectArray> array(env, env->NewObjectArray(static_cast<jsize>(n), c.attribute, nullptr));
    if (!array) {
        return nullptr;
    }
    const auto* inner = static_cast<const CK_ATTRIBUTE*>(slot.buffer);
    for (std::size_t j = 0; j < n; ++j) {
        CK_ATTRIBUTE record = inner[j];
        // Only the buffers this library gave are read, whatever pointer the module left.
        record.pValue = nullptr;
        if (nestedRead_) {
            const NestedSlot& nested = nested_[slot.nestedFirst + j];
            record.pValue = nested.buffer;
            if (nested.buffer != nullptr && isReported(record.ulValueLen) &&
                record.ulValueLen > nested.capacity) {
                noteFault(Fault::NestedOverrun, outer, record.ulValueLen, nested.capacity, record.type);
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            }
        }
        LocalRef<jobject> converted(env, toJavaAttribute(env, record));
        if (!converted) {
            return nullptr;
        }
        env->SetObjectArrayElement(array.get(), static_cast<jsize>(j), converted.get());
    }
    return array.release();
}

void AttributeQuery::noteFault(Fault kind, CK_ATTRIBUTE_TYPE type, CK_ULONG reported, CK_ULONG other,
                               CK_ATTRIBUTE_TYPE inner) {
    if (fault_.kind != Fault::None) {
        return;  // the first attribute's fault is reported
    }
    fault_ = FaultNote{kind, type, reported, other, inner};
}

bool AttributeQuery::storeValues(JNIEnv* env, jobjectArray array, CK_RV rv, jlong* outcomes, jlong unread) {
    const CK_ULONG count = attributes_.count();
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
            const Slot& slot = slots_[i];
            record.pValue = slot.buffer;  // only the buffer this library gave is read
            const CK_ULONG reported = record.ulValueLen;
            // What a lenient read reports for this attribute: 0 for a value read.
            jlong outcome = unread;
            if (slot.state == Slot::NotRecords) {
                noteFault(Fault::NotRecords, record.type, slot.first, sizeof(CK_ATTRIBUTE));
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            } else if (slot.state == Slot::CountChanged) {
                noteFault(Fault::CountChanged, record.type, slot.second, slot.first);
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            } else if (slot.buffer != nullptr && isReported(reported) && reported > slot.capacity) {
                noteFault(Fault::Overrun, record.type, reported, slot.capacity);
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                outcome = javaLong(CKR_BUFFER_TOO_SMALL);
            } else if (slot.state == Slot::Records && isReported(reported) && reported != slot.capacity) {
                noteFault(Fault::CountChanged, record.type, reported, slot.capacity);
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            } else if (isReported(record.ulValueLen) && (slot.capacity != kNoBuffer || record.ulValueLen == 0)) {
                outcome = 0;
            } else {
                record.ulValueLen = CK_UNAVAILABLE_INFORMATION;  // no buffer was given: nothing is read
            }
            if (outcomes != nullptr && outcomes[i] == 0) {
                outcomes[i] = outcome;
            }
            jobject value = nullptr;
            if (slot.state == Slot::Records && slot.capacity > 0 && record.ulValueLen == slot.capacity) {
                value = nestedValue(env, slot, record.type);
                if (value == nullptr) {
                    return false;
                }
            } else {
                value = toJavaAttributeValue(env, record);
                if (value == nullptr && env->ExceptionCheck()) {  // null is either none or a failure
                    return false;
                }
            }
            jobject converted = newJavaAttribute(env, record.type, value);
            if (converted == nullptr) {
                return false;
            }
            env->SetObjectArrayElement(array, static_cast<jsize>(i), converted);
            if (env->ExceptionCheck()) {
                return false;  // an ArrayStoreException for an array of a subclass of CK_ATTRIBUTE
            }
        }
    }
    if (rv != CKR_OK || fault_.kind == Fault::None || outcomes != nullptr) {
        return true;
    }
    char message[300];
    const auto type = static_cast<unsigned long>(fault_.type);
    const auto reported = static_cast<unsigned long>(fault_.reported);
    const auto other = static_cast<unsigned long>(fault_.other);
    if (fault_.kind == Fault::NestedOverrun) {
        std::snprintf(message, sizeof message,
                      "C_GetAttributeValue reported %lu bytes for attribute 0x%lX nested in attribute 0x%lX "
                      "but only %lu were allocated; its value was not read",
                      reported, static_cast<unsigned long>(fault_.inner), type, other);
    } else {
        // The same three figures, in this order, for every other fault.
        const char* format = fault_.kind == Fault::Overrun
            ? "C_GetAttributeValue reported %lu bytes for attribute 0x%lX but only %lu were allocated; "
              "its value was not read"
            : fault_.kind == Fault::NotRecords
            ? "C_GetAttributeValue reported %lu bytes for attribute 0x%lX, which holds CK_ATTRIBUTEs of "
              "%lu bytes each; its value was not read"
            : "C_GetAttributeValue reported %lu bytes for attribute 0x%lX after %lu: the number of its "
              "nested attributes changed; its value was not read";
        std::snprintf(message, sizeof message, format, reported, type, other);
    }
    throwPKCS11RuntimeException(env, message);
    return false;
}

}  // namespace vorlen
