// Java primitive arrays, strings and single values across the boundary.
#include <cstdint>
#include <cstring>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "core/exceptions.h"

namespace vorlen {

namespace {

// Java array lengths are never negative; this only keeps the type conversions explicit.
std::size_t lengthOf(JNIEnv* env, jarray array) {
    const jsize length = env->GetArrayLength(array);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// Copies a Java array of JavaT into a native array of NativeT, one element at a time through
// `convert`, using one region copy into a temporary.
template <typename ArrayT, typename JavaT, typename NativeT, typename Convert>
bool widen(JNIEnv* env, ArrayT array, NativeBuffer& out, const char* what,
           void (JNIEnv::*getRegion)(ArrayT, jsize, jsize, JavaT*), Convert convert) {
    out.reset();
    if (array == nullptr) {
        return true;
    }
    const std::size_t n = lengthOf(env, array);
    std::size_t javaBytes = 0;
    std::size_t nativeBytes = 0;
    HeapBuffer temporary;
    if (!multiplySize(env, n, sizeof(JavaT), javaBytes) ||
        !multiplySize(env, n, sizeof(NativeT), nativeBytes) ||
        !temporary.allocate(env, javaBytes, what) ||
        !out.allocate(env, nativeBytes, static_cast<CK_ULONG>(n), what)) {
        out.reset();
        return false;
    }
    (env->*getRegion)(array, 0, static_cast<jsize>(n), temporary.as<JavaT>());
    const JavaT* source = temporary.as<JavaT>();
    NativeT* target = out.as<NativeT>();
    for (std::size_t i = 0; i < n; ++i) {
        target[i] = convert(source[i]);
    }
    return true;
}

}  // namespace

bool multiplySize(JNIEnv* env, std::size_t count, std::size_t elementSize, std::size_t& bytes) {
    if (elementSize != 0 && count > static_cast<std::size_t>(-1) / elementSize) {
        throwOutOfMemory(env, "a native buffer of that size cannot be addressed");
        return false;
    }
    bytes = count * elementSize;
    return true;
}

bool toCkByteArray(JNIEnv* env, jbyteArray array, NativeBuffer& out) {
    out.reset();
    if (array == nullptr) {
        return true;
    }
    const std::size_t n = lengthOf(env, array);
    if (!out.allocate(env, n, static_cast<CK_ULONG>(n), "no room for a copy of a byte[]")) {
        return false;
    }
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(n), out.as<jbyte>());
    return true;
}

bool toCkCharArray(JNIEnv* env, jcharArray array, NativeBuffer& out) {
    return widen<jcharArray, jchar, CK_CHAR>(env, array, out, "no room for a copy of a char[]",
                                             &JNIEnv::GetCharArrayRegion,
                                             [](jchar c) { return ckChar(c); });
}

bool toCkUtf8CharArray(JNIEnv* env, jcharArray array, NativeBuffer& out) {
    out.reset();
    if (array == nullptr) {
        return true;
    }
    const std::size_t n = lengthOf(env, array);
    std::size_t javaBytes = 0;
    HeapBuffer temporary;
    if (!multiplySize(env, n, sizeof(jchar), javaBytes) ||
        !temporary.allocate(env, javaBytes, "no room for a copy of a char[]")) {
        return false;
    }
    jchar* chars = temporary.as<jchar>();
    env->GetCharArrayRegion(array, 0, static_cast<jsize>(n), chars);
    // Measured first: 1 to 3 bytes per char, 4 per surrogate pair; a lone surrogate is no text.
    std::uint64_t bytes = 0;
    bool valid = true;
    for (std::size_t i = 0; i < n && valid; ++i) {
        const jchar c = chars[i];
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && chars[i + 1] >= 0xDC00 &&
                   chars[i + 1] <= 0xDFFF) {
            bytes += 4;
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            valid = false;
        } else {
            bytes += 3;
        }
    }
    if (!valid || bytes > kMaxJavaArrayLength) {
        std::memset(chars, 0, javaBytes);
        throwIllegalArgument(env, valid ? "the text is too long for UTF-8"
                                        : "the text holds an unpaired surrogate: it has no UTF-8 form");
        return false;
    }
    if (!out.allocate(env, static_cast<std::size_t>(bytes), static_cast<CK_ULONG>(bytes),
                      "no room for a UTF-8 copy of a char[]")) {
        std::memset(chars, 0, javaBytes);
        return false;
    }
    CK_BYTE* target = out.bytes();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t c = chars[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (chars[++i] - 0xDC00);
        }
        if (c < 0x80) {
            *target++ = static_cast<CK_BYTE>(c);
        } else if (c < 0x800) {
            *target++ = static_cast<CK_BYTE>(0xC0 | (c >> 6));
            *target++ = static_cast<CK_BYTE>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *target++ = static_cast<CK_BYTE>(0xE0 | (c >> 12));
            *target++ = static_cast<CK_BYTE>(0x80 | ((c >> 6) & 0x3F));
            *target++ = static_cast<CK_BYTE>(0x80 | (c & 0x3F));
        } else {
            *target++ = static_cast<CK_BYTE>(0xF0 | (c >> 18));
            *target++ = static_cast<CK_BYTE>(0x80 | ((c >> 12) & 0x3F));
            *target++ = static_cast<CK_BYTE>(0x80 | ((c >> 6) & 0x3F));
            *target++ = static_cast<CK_BYTE>(0x80 | (c & 0x3F));
        }
    }
    std::memset(chars, 0, javaBytes);  // PINs and passwords: no copy stays behind
    return true;
}

bool toCkBBoolArray(JNIEnv* env, jbooleanArray array, NativeBuffer& out) {
    return widen<jbooleanArray, jboolean, CK_BBOOL>(env, array, out,
                                                    "no room for a copy of a boolean[]",
                                                    &JNIEnv::GetBooleanArrayRegion,
                                                    [](jboolean b) { return ckBBool(b); });
}

bool toCkULongArray(JNIEnv* env, jlongArray array, NativeBuffer& out) {
    return widen<jlongArray, jlong, CK_ULONG>(env, array, out, "no room for a copy of a long[]",
                                              &JNIEnv::GetLongArrayRegion,
                                              [](jlong v) { return ckULong(v); });
}

bool toCkULongArrayFromInts(JNIEnv* env, jintArray array, NativeBuffer& out) {
    return widen<jintArray, jint, CK_ULONG>(env, array, out, "no room for a copy of an int[]",
                                            &JNIEnv::GetIntArrayRegion,
                                            [](jint v) { return ckULongFromInt(v); });
}

bool toCkUtf8String(JNIEnv* env, jstring string, NativeBuffer& out) {
    out.reset();
    // GetStringUTFLength and GetStringUTFRegion copy without pinning the string.
    const jsize chars = env->GetStringLength(string);
    const jsize bytes = env->GetStringUTFLength(string);
    const std::size_t n = bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
    if (!out.allocate(env, n + 1, static_cast<CK_ULONG>(n), "no room for a copy of a String")) {
        return false;
    }
    env->GetStringUTFRegion(string, 0, chars, out.as<char>());
    out.bytes()[n] = 0;
    return true;
}

jbyteArray toJavaByteArray(JNIEnv* env, const CK_BYTE* bytes, CK_ULONG length) {
    const auto n = static_cast<jsize>(length);
    jbyteArray array = env->NewByteArray(n);
    if (array != nullptr && n > 0) {
        env->SetByteArrayRegion(array, 0, n, reinterpret_cast<const jbyte*>(bytes));
    }
    return array;
}

jcharArray toJavaCharArray(JNIEnv* env, const CK_UTF8CHAR* bytes, CK_ULONG length) {
    const auto n = static_cast<jsize>(length);
    Scratch<jchar, 64> temporary;
    if (!temporary.allocateUninitialized(env, length, "no room for a char[]")) {
        return nullptr;
    }
    for (CK_ULONG i = 0; i < length; ++i) {
        temporary[i] = static_cast<jchar>(bytes[i]);
    }
    jcharArray array = env->NewCharArray(n);
    if (array != nullptr && n > 0) {
        env->SetCharArrayRegion(array, 0, n, temporary.data());
    }
    return array;
}

jlongArray toJavaLongArray(JNIEnv* env, const CK_ULONG* values, CK_ULONG count) {
    const auto n = static_cast<jsize>(count);
    if constexpr (sizeof(CK_ULONG) == sizeof(jlong)) {
        // Same width: zero extension changes nothing, the values copy as they are.
        jlongArray array = env->NewLongArray(n);
        if (array != nullptr && n > 0) {
            env->SetLongArrayRegion(array, 0, n, reinterpret_cast<const jlong*>(values));
        }
        return array;
    } else {
        Scratch<jlong, 64> temporary;
        if (!temporary.allocateUninitialized(env, count, "no room for a long[]")) {
            return nullptr;
        }
        for (CK_ULONG i = 0; i < count; ++i) {
            temporary[i] = javaLong(values[i]);
        }
        jlongArray array = env->NewLongArray(n);
        if (array != nullptr && n > 0) {
            env->SetLongArrayRegion(array, 0, n, temporary.data());
        }
        return array;
    }
}

// Boolean.TRUE and FALSE, and the Longs of Long.valueOf's cache, as new local references: no
// object and no constructor call for the most common attribute values.
jobject toJavaBoolean(JNIEnv* env, CK_BBOOL value) {
    return env->NewLocalRef(value == CK_TRUE ? jni::convert.booleanTrue : jni::convert.booleanFalse);
}

jobject sharedJavaBoolean(CK_BBOOL value) {
    return value == CK_TRUE ? jni::convert.booleanTrue : jni::convert.booleanFalse;
}

jobject sharedJavaLong(JNIEnv* env, CK_ULONG value) {
    const auto& c = jni::convert;
    const jlong v = javaLong(value);
    if (v >= jni::ConvertCache::kSmallLongMin && v <= jni::ConvertCache::kSmallLongMax) {
        return c.smallLongs[v - jni::ConvertCache::kSmallLongMin];
    }
    return env->NewObject(c.longClass, c.longInit, v);
}

jobject toJavaLong(JNIEnv* env, CK_ULONG value) {
    const auto& c = jni::convert;
    const jlong v = javaLong(value);
    if (v >= jni::ConvertCache::kSmallLongMin && v <= jni::ConvertCache::kSmallLongMax) {
        return env->NewLocalRef(c.smallLongs[v - jni::ConvertCache::kSmallLongMin]);
    }
    return env->NewObject(c.longClass, c.longInit, v);
}

}  // namespace vorlen
