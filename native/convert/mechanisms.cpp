// Java CK_MECHANISM objects to native mechanisms, the parameter chosen by its Java class.
#include <cstring>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "convert/parameter_records.h"
#include "core/exceptions.h"

namespace vorlen {

// ---- NativeMechanism ----

void NativeMechanism::setParameter(NativeBuffer&& block, const RecordDescriptor* record) {
    block_ = std::move(block);
    record_ = record;
    mechanism_.pParameter = block_.get();
    mechanism_.ulParameterLen = block_.count();
}

bool NativeMechanism::keep(JNIEnv* env, NativeBuffer&& buffer, void*& pointer) {
    pointer = nullptr;
    if (buffer.isNull()) {
        return true;
    }
    void* address = buffer.get();
    if (!nested_.push(env, std::move(buffer))) {
        return false;
    }
    pointer = address;
    return true;
}

jobject NativeMechanism::keepObject(JNIEnv* env, jobject object) {
    env_ = env;
    // Room for the references kept so far and the wrapper's own.
    if (objects_.size() >= 8 && env->EnsureLocalCapacity(static_cast<jint>(objects_.size() + 16)) != 0) {
        env->DeleteLocalRef(object);
        return nullptr;
    }
    jobject kept = object;
    if (!objects_.push(env, std::move(kept))) {
        env->DeleteLocalRef(object);
        return nullptr;
    }
    return object;
}

void NativeMechanism::reset() {
    results_.clear();
    for (std::size_t i = objects_.size(); i > 0; --i) {
        env_->DeleteLocalRef(objects_[i - 1]);
    }
    objects_.clear();
    nested_.clear();
    block_.reset();
    record_ = nullptr;
    mechanism_.pParameter = nullptr;
    mechanism_.ulParameterLen = 0;
}

// ---- the parameter dispatch ----

namespace {

// A value converted by one of the general conversions becomes the parameter.
bool storeValue(NativeMechanism& out, bool converted, NativeBuffer& block) {
    if (converted) {
        out.setParameter(std::move(block));
    }
    return converted;
}

}  // namespace

bool toCkMechanismParameter(JNIEnv* env, jobject parameter, NativeMechanism& out) {
    out.reset();
    if (parameter == nullptr) {
        return true;
    }
    const auto& c = jni::convert;
    NativeBuffer block;
    if (env->IsInstanceOf(parameter, c.byteArrayClass)) {
        return storeValue(out, toCkByteArray(env, static_cast<jbyteArray>(parameter), block), block);
    }
    if (env->IsInstanceOf(parameter, c.longClass)) {
        return storeValue(out, toCkULong(env, parameter, block), block);
    }
    if (env->IsInstanceOf(parameter, c.version)) {
        return storeValue(out, toCkVersion(env, parameter, block), block);
    }
    for (const RecordDescriptor* record : parameterRecords()) {
        if (env->IsInstanceOf(parameter, record->ids->cls)) {
            return toCkRecord(env, *record, parameter, out);
        }
    }
    return storeValue(out, toCkValue(env, parameter, block), block);
}

bool toCkMechanism(JNIEnv* env, jobject mechanism, NativeMechanism& out) {
    out.reset();
    out.setType(0);
    if (mechanism == nullptr) {
        throwNullPointer(env, "the CK_MECHANISM is null");
        return false;
    }
    const auto& ids = jni::mechanismIds;
    out.setType(ckULong(env->GetLongField(mechanism, ids.mechanism)));
    LocalRef<jobject> parameter(env, env->GetObjectField(mechanism, ids.pParameter));
    return toCkMechanismParameter(env, parameter.get(), out);
}

}  // namespace vorlen
