// The standard's information records as new Java objects, created with AllocObject (no Java
// constructor runs) and filled field by field, in the order of the record.
#include "convert/convert.h"
#include "convert/convert_cache.h"

#include <cstring>

namespace vorlen {

namespace {

// Fills the fields of one new Java object in order. After the first failure (an exception
// pending) it makes no further JNI call, and result() gives null.
class RecordBuilder {
public:
    RecordBuilder(JNIEnv* env, jclass cls) : env_(env), object_(env->AllocObject(cls)) {}
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;
    ~RecordBuilder() {
        if (object_ != nullptr) {
            env_->DeleteLocalRef(object_);
        }
    }

    RecordBuilder& ulong(jfieldID field, CK_ULONG value) {
        if (object_ != nullptr) {
            env_->SetLongField(object_, field, javaLong(value));
        }
        return *this;
    }
    RecordBuilder& byte(jfieldID field, CK_BYTE value) {
        if (object_ != nullptr) {
            env_->SetByteField(object_, field, static_cast<jbyte>(value));
        }
        return *this;
    }
    // A fixed-length character field: every byte, nothing trimmed.
    template <std::size_t N>
    RecordBuilder& chars(jfieldID field, const CK_UTF8CHAR (&value)[N]) {
        return object(field, object_ != nullptr ? toJavaCharArray(env_, value, N) : nullptr);
    }
    RecordBuilder& version(jfieldID field, const CK_VERSION& value) {
        return object(field, object_ != nullptr ? toJavaVersion(env_, value) : nullptr);
    }
    jobject result() {
        jobject done = object_;
        object_ = nullptr;
        return done;
    }

private:
    RecordBuilder& object(jfieldID field, jobject value) {
        if (object_ == nullptr) {
            return *this;
        }
        if (value == nullptr) {  // the conversion failed with an exception pending
            env_->DeleteLocalRef(object_);
            object_ = nullptr;
            return *this;
        }
        env_->SetObjectField(object_, field, value);
        env_->DeleteLocalRef(value);
        return *this;
    }

    JNIEnv* env_;
    jobject object_;
};

}  // namespace

jobject toJavaVersion(JNIEnv* env, const CK_VERSION& version) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.version)
        .byte(c.versionMajor, version.major)
        .byte(c.versionMinor, version.minor)
        .result();
}

jobject toJavaDate(JNIEnv* env, const CK_DATE& date) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.date)
        .chars(c.dateYear, date.year)
        .chars(c.dateMonth, date.month)
        .chars(c.dateDay, date.day)
        .result();
}

jobject toJavaInfo(JNIEnv* env, const CK_INFO& info) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.info)
        .version(c.infoCryptokiVersion, info.cryptokiVersion)
        .chars(c.infoManufacturerID, info.manufacturerID)
        .ulong(c.infoFlags, info.flags)
        .chars(c.infoLibraryDescription, info.libraryDescription)
        .version(c.infoLibraryVersion, info.libraryVersion)
        .result();
}

jobject toJavaSlotInfo(JNIEnv* env, const CK_SLOT_INFO& info) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.slotInfo)
        .chars(c.slotInfoSlotDescription, info.slotDescription)
        .chars(c.slotInfoManufacturerID, info.manufacturerID)
        .ulong(c.slotInfoFlags, info.flags)
        .version(c.slotInfoHardwareVersion, info.hardwareVersion)
        .version(c.slotInfoFirmwareVersion, info.firmwareVersion)
        .result();
}

jobject toJavaTokenInfo(JNIEnv* env, const CK_TOKEN_INFO& info) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.tokenInfo)
        .chars(c.tokenInfoLabel, info.label)
        .chars(c.tokenInfoManufacturerID, info.manufacturerID)
        .chars(c.tokenInfoModel, info.model)
        .chars(c.tokenInfoSerialNumber, info.serialNumber)
        .ulong(c.tokenInfoFlags, info.flags)
        .ulong(c.tokenInfoMaxSessionCount, info.ulMaxSessionCount)
        .ulong(c.tokenInfoSessionCount, info.ulSessionCount)
        .ulong(c.tokenInfoMaxRwSessionCount, info.ulMaxRwSessionCount)
        .ulong(c.tokenInfoRwSessionCount, info.ulRwSessionCount)
        .ulong(c.tokenInfoMaxPinLen, info.ulMaxPinLen)
        .ulong(c.tokenInfoMinPinLen, info.ulMinPinLen)
        .ulong(c.tokenInfoTotalPublicMemory, info.ulTotalPublicMemory)
        .ulong(c.tokenInfoFreePublicMemory, info.ulFreePublicMemory)
        .ulong(c.tokenInfoTotalPrivateMemory, info.ulTotalPrivateMemory)
        .ulong(c.tokenInfoFreePrivateMemory, info.ulFreePrivateMemory)
        .version(c.tokenInfoHardwareVersion, info.hardwareVersion)
        .version(c.tokenInfoFirmwareVersion, info.firmwareVersion)
        .chars(c.tokenInfoUtcTime, info.utcTime)
        .result();
}

jobject toJavaSessionInfo(JNIEnv* env, const CK_SESSION_INFO& info) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.sessionInfo)
        .ulong(c.sessionInfoSlotID, info.slotID)
        .ulong(c.sessionInfoState, info.state)
        .ulong(c.sessionInfoFlags, info.flags)
        .ulong(c.sessionInfoDeviceError, info.ulDeviceError)
        .result();
}

jobject toJavaMechanismInfo(JNIEnv* env, const CK_MECHANISM_INFO& info) {
    const auto& c = jni::convert;
    return RecordBuilder(env, c.mechanismInfo)
        .ulong(c.mechanismInfoMinKeySize, info.ulMinKeySize)
        .ulong(c.mechanismInfoMaxKeySize, info.ulMaxKeySize)
        .ulong(c.mechanismInfoFlags, info.flags)
        .result();
}

namespace {
// The longest interface name read; a module's name without its zero ends there.
constexpr std::size_t kMaxInterfaceName = 256;
}  // namespace

jobject toJavaInterface(JNIEnv* env, const CK_INTERFACE& info) {
    const auto& c = jni::convert;
    const auto* text = reinterpret_cast<const char*>(info.pInterfaceName);
    LocalRef<jobject> name(env, text == nullptr ? nullptr
                                                : toJavaCharArray(env, info.pInterfaceName,
                                                                  static_cast<CK_ULONG>(strnlen(
                                                                      text, kMaxInterfaceName))));
    if (text != nullptr && !name) {
        return nullptr;
    }
    CK_VERSION listVersion{};  // every function list starts with its version
    if (info.pFunctionList != nullptr) {
        std::memcpy(&listVersion, info.pFunctionList, sizeof listVersion);
    }
    LocalRef<jobject> version(env, info.pFunctionList == nullptr ? nullptr
                                                                 : toJavaVersion(env, listVersion));
    if (info.pFunctionList != nullptr && !version) {
        return nullptr;
    }
    LocalRef<jobject> object(env, env->AllocObject(c.interfaceClass));
    if (!object) {
        return nullptr;
    }
    env->SetObjectField(object.get(), c.interfaceName, name.get());
    env->SetObjectField(object.get(), c.interfaceVersion, version.get());
    env->SetLongField(object.get(), c.interfaceFlags, javaLong(info.flags));
    return object.release();
}

}  // namespace vorlen
