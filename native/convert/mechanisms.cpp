// Java CK_MECHANISM objects to native mechanisms, the parameter chosen by its Java class.
#include <cstring>

#include "convert/convert.h"
#include "convert/convert_cache.h"
#include "convert/mechanism_cache.h"
#include "core/exceptions.h"

namespace vorlen {

// ---- NativeMechanism ----

void NativeMechanism::setParameter(ParameterKind kind, NativeBuffer&& block) {
    block_ = std::move(block);
    kind_ = kind;
    mechanism_.pParameter = block_.get();
    mechanism_.ulParameterLen = block_.count();
}

bool NativeMechanism::keep(JNIEnv* env, NativeBuffer&& buffer, void*& pointer) {
    pointer = nullptr;
    if (buffer.isNull()) {
        return true;
    }
    if (nestedCount_ == kMaxNested) {
        throwPKCS11RuntimeException(env, "a mechanism parameter points to too many buffers");
        return false;
    }
    NativeBuffer& slot = nested_[nestedCount_++];
    slot = std::move(buffer);
    pointer = slot.get();
    return true;
}

std::size_t NativeMechanism::nestedSize(const void* pointer) const {
    if (pointer == nullptr) {
        return 0;
    }
    for (std::size_t i = 0; i < nestedCount_; ++i) {
        if (nested_[i].get() == pointer) {
            return nested_[i].size();
        }
    }
    return 0;
}

void NativeMechanism::reset() {
    for (std::size_t i = 0; i < nestedCount_; ++i) {
        nested_[i].reset();
    }
    nestedCount_ = 0;
    block_.reset();
    kind_ = ParameterKind::None;
    mechanism_.pParameter = nullptr;
    mechanism_.ulParameterLen = 0;
}

// ---- the parameter dispatch ----

namespace {

// Converts a record of type Record into a new parameter block of exactly sizeof(Record)
// bytes. Every byte of the block is defined: the record starts zeroed, padding included.
template <typename Record, bool (*Convert)(JNIEnv*, jobject, NativeMechanism&, Record&)>
bool storeRecord(JNIEnv* env, jobject parameter, NativeMechanism& out, ParameterKind kind) {
    Record record;
    std::memset(&record, 0, sizeof record);
    NativeBuffer block;
    if (!Convert(env, parameter, out, record) ||
        !block.allocate(env, sizeof(Record), sizeof(Record), "no room for a mechanism parameter")) {
        out.reset();
        return false;
    }
    std::memcpy(block.get(), &record, sizeof record);
    out.setParameter(kind, std::move(block));
    return true;
}

// One parameter class of the dispatch and the record it becomes.
struct RecordForm {
    const jclass* cls;  // in jni::mechanisms, filled when the library is initialised
    ParameterKind kind;
    bool (*store)(JNIEnv*, jobject, NativeMechanism&, ParameterKind);
};

// The twenty parameter classes, in the order in which they are tested. They come after
// byte[], java.lang.Long and CK_VERSION; the test order decides for an object of a class
// that extends one class of the list and could pass for another.
const RecordForm kRecordForms[] = {
    {&jni::mechanisms.rsaPkcsOaep.cls, ParameterKind::RsaPkcsOaep,
     storeRecord<CK_RSA_PKCS_OAEP_PARAMS, toCkRsaPkcsOaepParams>},
    {&jni::mechanisms.keaDerive.cls, ParameterKind::KeaDerive,
     storeRecord<CK_KEA_DERIVE_PARAMS, toCkKeaDeriveParams>},
    {&jni::mechanisms.rc2Cbc.cls, ParameterKind::Rc2Cbc,
     storeRecord<CK_RC2_CBC_PARAMS, toCkRc2CbcParams>},
    {&jni::mechanisms.rc2MacGeneral.cls, ParameterKind::Rc2MacGeneral,
     storeRecord<CK_RC2_MAC_GENERAL_PARAMS, toCkRc2MacGeneralParams>},
    {&jni::mechanisms.rc5.cls, ParameterKind::Rc5, storeRecord<CK_RC5_PARAMS, toCkRc5Params>},
    {&jni::mechanisms.rc5Cbc.cls, ParameterKind::Rc5Cbc,
     storeRecord<CK_RC5_CBC_PARAMS, toCkRc5CbcParams>},
    {&jni::mechanisms.rc5MacGeneral.cls, ParameterKind::Rc5MacGeneral,
     storeRecord<CK_RC5_MAC_GENERAL_PARAMS, toCkRc5MacGeneralParams>},
    {&jni::mechanisms.skipjackPrivateWrap.cls, ParameterKind::SkipjackPrivateWrap,
     storeRecord<CK_SKIPJACK_PRIVATE_WRAP_PARAMS, toCkSkipjackPrivateWrapParams>},
    {&jni::mechanisms.skipjackRelayx.cls, ParameterKind::SkipjackRelayx,
     storeRecord<CK_SKIPJACK_RELAYX_PARAMS, toCkSkipjackRelayxParams>},
    {&jni::mechanisms.pbe.cls, ParameterKind::Pbe, storeRecord<CK_PBE_PARAMS, toCkPbeParams>},
    {&jni::mechanisms.pkcs5Pbkd2.cls, ParameterKind::Pkcs5Pbkd2,
     storeRecord<CK_PKCS5_PBKD2_PARAMS, toCkPkcs5Pbkd2Params>},
    {&jni::mechanisms.keyDerivationStringData.cls, ParameterKind::KeyDerivationStringData,
     storeRecord<CK_KEY_DERIVATION_STRING_DATA, toCkKeyDerivationStringData>},
    {&jni::mechanisms.keyWrapSetOaep.cls, ParameterKind::KeyWrapSetOaep,
     storeRecord<CK_KEY_WRAP_SET_OAEP_PARAMS, toCkKeyWrapSetOaepParams>},
    {&jni::mechanisms.ssl3MasterKeyDerive.cls, ParameterKind::Ssl3MasterKeyDerive,
     storeRecord<CK_SSL3_MASTER_KEY_DERIVE_PARAMS, toCkSsl3MasterKeyDeriveParams>},
    {&jni::mechanisms.ssl3KeyMat.cls, ParameterKind::Ssl3KeyMat,
     storeRecord<CK_SSL3_KEY_MAT_PARAMS, toCkSsl3KeyMatParams>},
    {&jni::mechanisms.rsaPkcsPss.cls, ParameterKind::RsaPkcsPss,
     storeRecord<CK_RSA_PKCS_PSS_PARAMS, toCkRsaPkcsPssParams>},
    {&jni::mechanisms.ecdh1Derive.cls, ParameterKind::Ecdh1Derive,
     storeRecord<CK_ECDH1_DERIVE_PARAMS, toCkEcdh1DeriveParams>},
    {&jni::mechanisms.ecdh2Derive.cls, ParameterKind::Ecdh2Derive,
     storeRecord<CK_ECDH2_DERIVE_PARAMS, toCkEcdh2DeriveParams>},
    {&jni::mechanisms.x942Dh1Derive.cls, ParameterKind::X942Dh1Derive,
     storeRecord<CK_X9_42_DH1_DERIVE_PARAMS, toCkX942Dh1DeriveParams>},
    {&jni::mechanisms.x942Dh2Derive.cls, ParameterKind::X942Dh2Derive,
     storeRecord<CK_X9_42_DH2_DERIVE_PARAMS, toCkX942Dh2DeriveParams>},
};

static_assert(sizeof kRecordForms / sizeof kRecordForms[0] == 20, "one line per parameter class");

// A value converted by one of the general conversions becomes the parameter.
bool storeValue(NativeMechanism& out, ParameterKind kind, bool converted, NativeBuffer& block) {
    if (converted) {
        out.setParameter(kind, std::move(block));
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
        return storeValue(out, ParameterKind::Bytes,
                          toCkByteArray(env, static_cast<jbyteArray>(parameter), block), block);
    }
    if (env->IsInstanceOf(parameter, c.longClass)) {
        return storeValue(out, ParameterKind::Long, toCkULong(env, parameter, block), block);
    }
    if (env->IsInstanceOf(parameter, c.version)) {
        return storeValue(out, ParameterKind::Version, toCkVersion(env, parameter, block), block);
    }
    for (const RecordForm& form : kRecordForms) {
        if (env->IsInstanceOf(parameter, *form.cls)) {
            return form.store(env, parameter, out, form.kind);
        }
    }
    return storeValue(out, ParameterKind::Value, toCkValue(env, parameter, block), block);
}

bool toCkMechanism(JNIEnv* env, jobject mechanism, NativeMechanism& out) {
    out.reset();
    out.setType(0);
    if (mechanism == nullptr) {
        throwNullPointer(env, "the CK_MECHANISM is null");
        return false;
    }
    const auto& ids = jni::mechanisms.mechanism;
    out.setType(ckULong(env->GetLongField(mechanism, ids.mechanism)));
    LocalRef<jobject> parameter(env, env->GetObjectField(mechanism, ids.pParameter));
    return toCkMechanismParameter(env, parameter.get(), out);
}

}  // namespace vorlen
