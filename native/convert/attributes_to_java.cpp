// Native attribute values back to Java values, chosen by the attribute's type.
#include <cstring>

#include "convert/attribute_kinds.h"
#include "convert/convert.h"
#include "convert/convert_cache.h"

namespace vorlen {

namespace {

// A Boolean or small Long as a new local reference, or as the shared global one.
jobject attributeValue(JNIEnv* env, const CK_ATTRIBUTE& attribute, bool shared) {
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
                return shared ? sharedJavaLong(env, value) : toJavaLong(env, value);
            }
            break;
        case ValueKind::Boolean:
            return shared ? sharedJavaBoolean(bytes[0]) : toJavaBoolean(env, bytes[0]);
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

}  // namespace

jobject toJavaAttributeValue(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    return attributeValue(env, attribute, false);
}

jobject toJavaAttributeValueShared(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    return attributeValue(env, attribute, true);
}

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

jobject toJavaAttribute(JNIEnv* env, const CK_ATTRIBUTE& attribute) {
    LocalRef<jobject> value(env, toJavaAttributeValue(env, attribute));
    if (env->ExceptionCheck()) {
        return nullptr;
    }
    return newJavaAttribute(env, attribute.type, value.get());
}

}  // namespace vorlen
