// The mechanism parameter records: one descriptor each (parameter_records.h explains the
// kinds), in the order of the C type's members. Members a Java class does not have stay zero.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "convert/convert.h"
#include "convert/parameter_records.h"
#include "core/exceptions.h"

namespace vorlen {

namespace {

// ---- member builders ----

constexpr Member number(const char* name, std::size_t offset) {
    return Member{name, MemberKind::ULong, offset};
}
constexpr Member flag(const char* name, std::size_t offset) {
    return Member{name, MemberKind::Bool, offset};
}
constexpr Member octet(const char* name, std::size_t offset) {
    return Member{name, MemberKind::Byte, offset};
}
/// A byte[]; its element count goes into the member at `length` (if any).
constexpr Member bytes(const char* name, std::size_t offset, std::size_t length = kNoMember) {
    return Member{name, MemberKind::Bytes, offset, length};
}
/// A char[], one byte per char; its element count goes into the member at `length` (if any).
constexpr Member chars(const char* name, std::size_t offset, std::size_t length = kNoMember) {
    return Member{name, MemberKind::Chars, offset, length};
}
/// A byte[] of exactly `count` elements, held inside the record.
constexpr Member fixedBytes(const char* name, std::size_t offset, std::size_t count) {
    return Member{name, MemberKind::FixedBytes, offset, count};
}
constexpr Member embedded(const char* name, std::size_t offset, const RecordDescriptor& record) {
    return Member{name, MemberKind::Embedded, offset, kNoMember, &record};
}
constexpr Member pointerTo(const char* name, std::size_t offset, const RecordDescriptor& record) {
    return Member{name, MemberKind::Pointer, offset, kNoMember, &record};
}

/// An array of records of `record`; its element count goes into the member at `length`.
constexpr Member records(const char* name, std::size_t offset, std::size_t length,
                         const RecordDescriptor& record) {
    return Member{name, MemberKind::Records, offset, length, &record};
}
/// An Object converted by its class (byte[] or a record); its byte length goes to `length`.
constexpr Member value(const char* name, std::size_t offset, std::size_t length) {
    return Member{name, MemberKind::Value, offset, length};
}
/// A CK_ATTRIBUTE[]; its count goes into the member at `length`.
constexpr Member attributes(const char* name, std::size_t offset, std::size_t length) {
    return Member{name, MemberKind::Template, offset, length};
}
/// A handle the module writes through the pointer at `offset`.
constexpr Member handleOut(const char* name, std::size_t offset) {
    return Member{name, MemberKind::HandleOut, offset};
}

constexpr ResultRule kNoResults{};

// The longest tag of the AEAD mechanisms (GCM, CCM, Poly1305): 128 bits.
constexpr std::size_t kMaxTagBytes = 16;

constexpr ResultRule resultsOf(ResultsOf function, CK_MECHANISM_TYPE first, CK_MECHANISM_TYPE last) {
    return ResultRule{static_cast<unsigned>(function), first, last};
}

// Inside a record's definition, R is its C type: F(m) is the Java field and C member m, L(m) the
// length member m.
#define F(m) #m, offsetof(R, m)
#define L(m) offsetof(R, m)

// Every VORLEN_RECORD below takes one number of __COUNTER__ after this one: so the records
// defined are counted, and each must have its line in kParameterRecords or kNestedRecords.
constexpr int kCounterBeforeRecords = __COUNTER__;

// One record: its descriptor is T_::record.
#define VORLEN_RECORD(T, rule, ...)                                       \
    namespace T##_ {                                                      \
    [[maybe_unused]] constexpr int counted = __COUNTER__;                 \
    using R = T;                                                          \
    RecordIds ids;                                                        \
    constexpr Member members[] = {__VA_ARGS__};                           \
    static_assert(std::size(members) <= kMaxMembers, "too many members"); \
    const RecordDescriptor record{#T, sizeof(T), members, &ids, rule};    \
    }

// ---- records nested in others ----

VORLEN_RECORD(CK_VERSION, kNoResults,
              octet(F(major)).copiedBack(),
              octet(F(minor)).copiedBack())

VORLEN_RECORD(CK_SSL3_RANDOM_DATA, kNoResults,
              bytes(F(pClientRandom), L(ulClientRandomLen)),
              bytes(F(pServerRandom), L(ulServerRandomLen)))

// The module writes ulIVSizeInBits / 8 bytes (of the CK_SSL3_KEY_MAT_PARAMS that points here)
// into each IV buffer.
constexpr WrittenSize kSsl3IvSize{WrittenSize::Scope::Outer,
                                  offsetof(CK_SSL3_KEY_MAT_PARAMS, ulIVSizeInBits),
                                  "ulIVSizeInBits", 8, 0};

VORLEN_RECORD(CK_SSL3_KEY_MAT_OUT, kNoResults,
              number(F(hClientMacSecret)).copiedBack(),
              number(F(hServerMacSecret)).copiedBack(),
              number(F(hClientKey)).copiedBack(),
              number(F(hServerKey)).copiedBack(),
              bytes(F(pIVClient)).writes(kSsl3IvSize),
              bytes(F(pIVServer)).writes(kSsl3IvSize))

// The parts of the SP 800-108 key derivations.
VORLEN_RECORD(CK_SP800_108_COUNTER_FORMAT, kNoResults,
              flag(F(bLittleEndian)),
              number(F(ulWidthInBits)))

VORLEN_RECORD(CK_SP800_108_DKM_LENGTH_FORMAT, kNoResults,
              number(F(dkmLengthMethod)),
              flag(F(bLittleEndian)),
              number(F(ulWidthInBits)))

// pValue: bytes, a CK_SP800_108_COUNTER_FORMAT or a CK_SP800_108_DKM_LENGTH_FORMAT.
VORLEN_RECORD(CK_PRF_DATA_PARAM, kNoResults,
              number(F(type)),
              value(F(pValue), L(ulValueLen)))

// The module writes the handle of each further key through phKey.
VORLEN_RECORD(CK_DERIVED_KEY, kNoResults,
              attributes(F(pTemplate), L(ulAttributeCount)),
              handleOut(F(phKey)).copiedBack())

// ---- the parameter records ----

VORLEN_RECORD(CK_RSA_PKCS_OAEP_PARAMS, kNoResults,
              number(F(hashAlg)),
              number(F(mgf)),
              number(F(source)),
              bytes(F(pSourceData), L(ulSourceDataLen)))

VORLEN_RECORD(CK_KEA_DERIVE_PARAMS, kNoResults,
              flag(F(isSender)),
              bytes(F(pRandomA), L(ulRandomLen)),
              bytes(F(pRandomB), L(ulRandomLen)),
              bytes(F(pPublicData), L(ulPublicDataLen)))

VORLEN_RECORD(CK_RC2_CBC_PARAMS, kNoResults,
              number(F(ulEffectiveBits)),
              fixedBytes(F(iv), sizeof(R::iv)))

VORLEN_RECORD(CK_RC2_MAC_GENERAL_PARAMS, kNoResults,
              number(F(ulEffectiveBits)),
              number(F(ulMacLength)))

VORLEN_RECORD(CK_RC5_PARAMS, kNoResults,
              number(F(ulWordsize)),
              number(F(ulRounds)))

VORLEN_RECORD(CK_RC5_CBC_PARAMS, kNoResults,
              number(F(ulWordsize)),
              number(F(ulRounds)),
              bytes(F(pIv), L(ulIvLen)))

VORLEN_RECORD(CK_RC5_MAC_GENERAL_PARAMS, kNoResults,
              number(F(ulWordsize)),
              number(F(ulRounds)),
              number(F(ulMacLength)))

VORLEN_RECORD(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, kNoResults,
              bytes(F(pPassword), L(ulPasswordLen)),
              bytes(F(pPublicData), L(ulPublicDataLen)),
              bytes(F(pRandomA), L(ulRandomLen)),
              bytes(F(pPrimeP), L(ulPAndGLen)),
              bytes(F(pBaseG), L(ulPAndGLen)),
              bytes(F(pSubprimeQ), L(ulQLen)))

VORLEN_RECORD(CK_SKIPJACK_RELAYX_PARAMS, kNoResults,
              bytes(F(pOldWrappedX), L(ulOldWrappedXLen)),
              bytes(F(pOldPassword), L(ulOldPasswordLen)),
              bytes(F(pOldPublicData), L(ulOldPublicDataLen)),
              bytes(F(pOldRandomA), L(ulOldRandomLen)),
              bytes(F(pNewPassword), L(ulNewPasswordLen)),
              bytes(F(pNewPublicData), L(ulNewPublicDataLen)),
              bytes(F(pNewRandomA), L(ulNewRandomLen)))

// The PBE key generations write an 8-byte IV into pInitVector.
VORLEN_RECORD(CK_PBE_PARAMS, resultsOf(ResultsOf::GenerateKey, CKM_PBE_MD2_DES_CBC, CKM_PBE_SHA1_CAST5_CBC),
              chars(F(pInitVector)).writes(WrittenSize{WrittenSize::Scope::None, kNoMember, nullptr, 1, 8}),
              chars(F(pPassword), L(ulPasswordLen)),
              chars(F(pSalt), L(ulSaltLen)),
              number(F(ulIteration)))

// The Java class has no password: pPassword and ulPasswordLen stay null.
VORLEN_RECORD(CK_PKCS5_PBKD2_PARAMS, kNoResults,
              number(F(saltSource)),
              bytes(F(pSaltSourceData), L(ulSaltSourceDataLen)),
              number(F(iterations)),
              number(F(prf)),
              bytes(F(pPrfData), L(ulPrfDataLen)))

VORLEN_RECORD(CK_KEY_DERIVATION_STRING_DATA, kNoResults,
              bytes(F(pData), L(ulLen)))

VORLEN_RECORD(CK_KEY_WRAP_SET_OAEP_PARAMS, resultsOf(ResultsOf::UnwrapKey, CKM_KEY_WRAP_SET_OAEP, CKM_KEY_WRAP_SET_OAEP),
              octet(F(bBC)).copiedBack(),
              bytes(F(pX), L(ulXLen)).copiedBack())

VORLEN_RECORD(CK_SSL3_MASTER_KEY_DERIVE_PARAMS,
              resultsOf(ResultsOf::DeriveKey, CKM_SSL3_MASTER_KEY_DERIVE, CKM_SSL3_MASTER_KEY_DERIVE),
              embedded(F(RandomInfo), CK_SSL3_RANDOM_DATA_::record),
              pointerTo(F(pVersion), CK_VERSION_::record))

VORLEN_RECORD(CK_SSL3_KEY_MAT_PARAMS,
              resultsOf(ResultsOf::DeriveKey, CKM_SSL3_KEY_AND_MAC_DERIVE, CKM_SSL3_KEY_AND_MAC_DERIVE),
              number(F(ulMacSizeInBits)),
              number(F(ulKeySizeInBits)),
              number(F(ulIVSizeInBits)),
              flag(F(bIsExport)),
              embedded(F(RandomInfo), CK_SSL3_RANDOM_DATA_::record),
              pointerTo(F(pReturnedKeyMaterial), CK_SSL3_KEY_MAT_OUT_::record))

VORLEN_RECORD(CK_RSA_PKCS_PSS_PARAMS, kNoResults,
              number(F(hashAlg)),
              number(F(mgf)),
              number(F(sLen)))

VORLEN_RECORD(CK_ECDH1_DERIVE_PARAMS, kNoResults,
              number(F(kdf)),
              bytes(F(pSharedData), L(ulSharedDataLen)),
              bytes(F(pPublicData), L(ulPublicDataLen)))

// ulPrivateDataLen is the caller's number, not the length of an array.
VORLEN_RECORD(CK_ECDH2_DERIVE_PARAMS, kNoResults,
              number(F(kdf)),
              bytes(F(pSharedData), L(ulSharedDataLen)),
              bytes(F(pPublicData), L(ulPublicDataLen)),
              number(F(ulPrivateDataLen)),
              number(F(hPrivateData)),
              bytes(F(pPublicData2), L(ulPublicDataLen2)))

VORLEN_RECORD(CK_X9_42_DH1_DERIVE_PARAMS, kNoResults,
              number(F(kdf)),
              bytes(F(pOtherInfo), L(ulOtherInfoLen)),
              bytes(F(pPublicData), L(ulPublicDataLen)))

VORLEN_RECORD(CK_X9_42_DH2_DERIVE_PARAMS, kNoResults,
              number(F(kdf)),
              bytes(F(pOtherInfo), L(ulOtherInfoLen)),
              bytes(F(pPublicData), L(ulPublicDataLen)),
              number(F(ulPrivateDataLen)),
              number(F(hPrivateData)),
              bytes(F(pPublicData2), L(ulPublicDataLen2)))

// ---- the records of the newer mechanisms ----

// ulIvBits 0 passes 8 × the IV's length.
VORLEN_RECORD(CK_GCM_PARAMS, kNoResults,
              bytes(F(pIv), L(ulIvLen)).required(),
              number(F(ulIvBits)).zeroMeansBitsOf(L(ulIvLen)),
              bytes(F(pAAD), L(ulAADLen)),
              number(F(ulTagBits)).wholeBytes())

// The layout before 2.40, chosen by the caller through its own Java class.
VORLEN_RECORD(CK_GCM_PARAMS_WITHOUT_IV_BITS, kNoResults,
              bytes(F(pIv), L(ulIvLen)).required(),
              bytes(F(pAAD), L(ulAADLen)),
              number(F(ulTagBits)).wholeBytes())

VORLEN_RECORD(CK_CCM_PARAMS, kNoResults,
              number(F(ulDataLen)),
              bytes(F(pNonce), L(ulNonceLen)).required(),
              bytes(F(pAAD), L(ulAADLen)),
              number(F(ulMACLen)))

VORLEN_RECORD(CK_AES_CTR_PARAMS, kNoResults,
              number(F(ulCounterBits)),
              fixedBytes(F(cb), sizeof(R::cb)))

VORLEN_RECORD(CK_AES_CBC_ENCRYPT_DATA_PARAMS, kNoResults,
              fixedBytes(F(iv), sizeof(R::iv)),
              bytes(F(pData), L(length)).required())

VORLEN_RECORD(CK_DES_CBC_ENCRYPT_DATA_PARAMS, kNoResults,
              fixedBytes(F(iv), sizeof(R::iv)),
              bytes(F(pData), L(length)).required())

// The counter and the nonce have no length members: the module reads their bits / 8 bytes.
VORLEN_RECORD(CK_CHACHA20_PARAMS, kNoResults,
              bytes(F(pBlockCounter)).required().countedInBitsBy(L(blockCounterBits)),
              number(F(blockCounterBits)),
              bytes(F(pNonce)).required().countedInBitsBy(L(ulNonceBits)),
              number(F(ulNonceBits)))

VORLEN_RECORD(CK_SALSA20_CHACHA20_POLY1305_PARAMS, kNoResults,
              bytes(F(pNonce), L(ulNonceLen)).required(),
              bytes(F(pAAD), L(ulAADLen)))

VORLEN_RECORD(CK_EDDSA_PARAMS, kNoResults,
              flag(F(phFlag)),
              bytes(F(pContextData), L(ulContextDataLen)))

VORLEN_RECORD(CK_ECDH_AES_KEY_WRAP_PARAMS, kNoResults,
              number(F(ulAESKeyBits)),
              number(F(kdf)),
              bytes(F(pSharedData), L(ulSharedDataLen)))

VORLEN_RECORD(CK_RSA_AES_KEY_WRAP_PARAMS, kNoResults,
              number(F(ulAESKeyBits)),
              pointerTo(F(pOAEPParams), CK_RSA_PKCS_OAEP_PARAMS_::record))

VORLEN_RECORD(CK_PKCS5_PBKD2_PARAMS2, kNoResults,
              number(F(saltSource)),
              bytes(F(pSaltSourceData), L(ulSaltSourceDataLen)),
              number(F(iterations)),
              number(F(prf)),
              bytes(F(pPrfData), L(ulPrfDataLen)),
              chars(F(pPassword), L(ulPasswordLen)).required().utf8Text())

// ---- the SP 800-108 key derivations: the handles of the further keys go back ----

VORLEN_RECORD(CK_SP800_108_KDF_PARAMS,
              resultsOf(ResultsOf::DeriveKey, CKM_SP800_108_COUNTER_KDF, CKM_SP800_108_DOUBLE_PIPELINE_KDF),
              number(F(prfType)),
              records(F(pDataParams), L(ulNumberOfDataParams), CK_PRF_DATA_PARAM_::record),
              records(F(pAdditionalDerivedKeys), L(ulAdditionalDerivedKeys), CK_DERIVED_KEY_::record))

VORLEN_RECORD(CK_SP800_108_FEEDBACK_KDF_PARAMS,
              resultsOf(ResultsOf::DeriveKey, CKM_SP800_108_COUNTER_KDF, CKM_SP800_108_DOUBLE_PIPELINE_KDF),
              number(F(prfType)),
              records(F(pDataParams), L(ulNumberOfDataParams), CK_PRF_DATA_PARAM_::record),
              bytes(F(pIV), L(ulIVLen)),
              records(F(pAdditionalDerivedKeys), L(ulAdditionalDerivedKeys), CK_DERIVED_KEY_::record))

// ---- the per-message parameters of the message-based functions ----

// After C_EncryptMessage and the other message calls (whatever the mechanism): a generated IV
// or nonce goes back into pIv or pNonce, the tag into pTag or pMAC.
constexpr ResultRule kMessageResults =
    resultsOf(ResultsOf::Message, 0, static_cast<CK_MECHANISM_TYPE>(-1));

// The module writes ulTagBits / 8 bytes of tag into pTag: at most 16 (a GCM tag has 128 bits
// at most).
VORLEN_RECORD(CK_GCM_MESSAGE_PARAMS, kMessageResults,
              bytes(F(pIv), L(ulIvLen)).copiedBack(),
              number(F(ulIvFixedBits)),
              number(F(ivGenerator)),
              bytes(F(pTag)).writes(WrittenSize{WrittenSize::Scope::Record,
                                                offsetof(CK_GCM_MESSAGE_PARAMS, ulTagBits),
                                                "ulTagBits", 8, 0, kMaxTagBytes}),
              number(F(ulTagBits)).wholeBytes())

// ulMACLen is the length of the caller's pMAC.
VORLEN_RECORD(CK_CCM_MESSAGE_PARAMS, kMessageResults,
              number(F(ulDataLen)),
              bytes(F(pNonce), L(ulNonceLen)).copiedBack(),
              number(F(ulNonceFixedBits)),
              number(F(nonceGenerator)),
              bytes(F(pMAC), L(ulMACLen)).copiedBack())

// The module writes the 16-byte Poly1305 tag into pTag.
VORLEN_RECORD(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, kMessageResults,
              bytes(F(pNonce), L(ulNonceLen)).copiedBack(),
              bytes(F(pTag)).writes(WrittenSize{WrittenSize::Scope::None, kNoMember, nullptr, 1, 16}))

// ---- key derivations of version 3.0 ----

VORLEN_RECORD(CK_HKDF_PARAMS, kNoResults,
              flag(F(bExtract)),
              flag(F(bExpand)),
              number(F(prfHashMechanism)),
              number(F(ulSaltType)),
              bytes(F(pSalt), L(ulSaltLen)),
              number(F(hSaltKey)),
              bytes(F(pInfo), L(ulInfoLen)))

#undef VORLEN_RECORD
#undef L
#undef F


// The order in which the dispatch tests the classes; it decides for an object of a class that
// extends one class of the list and could pass for another.
const RecordDescriptor* const kParameterRecords[] = {
    &CK_RSA_PKCS_OAEP_PARAMS_::record,
    &CK_KEA_DERIVE_PARAMS_::record,
    &CK_RC2_CBC_PARAMS_::record,
    &CK_RC2_MAC_GENERAL_PARAMS_::record,
    &CK_RC5_PARAMS_::record,
    &CK_RC5_CBC_PARAMS_::record,
    &CK_RC5_MAC_GENERAL_PARAMS_::record,
    &CK_SKIPJACK_PRIVATE_WRAP_PARAMS_::record,
    &CK_SKIPJACK_RELAYX_PARAMS_::record,
    &CK_PBE_PARAMS_::record,
    &CK_PKCS5_PBKD2_PARAMS_::record,
    &CK_KEY_DERIVATION_STRING_DATA_::record,
    &CK_KEY_WRAP_SET_OAEP_PARAMS_::record,
    &CK_SSL3_MASTER_KEY_DERIVE_PARAMS_::record,
    &CK_SSL3_KEY_MAT_PARAMS_::record,
    &CK_RSA_PKCS_PSS_PARAMS_::record,
    &CK_ECDH1_DERIVE_PARAMS_::record,
    &CK_ECDH2_DERIVE_PARAMS_::record,
    &CK_X9_42_DH1_DERIVE_PARAMS_::record,
    &CK_X9_42_DH2_DERIVE_PARAMS_::record,
    &CK_GCM_PARAMS_::record,
    &CK_GCM_PARAMS_WITHOUT_IV_BITS_::record,
    &CK_CCM_PARAMS_::record,
    &CK_AES_CTR_PARAMS_::record,
    &CK_AES_CBC_ENCRYPT_DATA_PARAMS_::record,
    &CK_DES_CBC_ENCRYPT_DATA_PARAMS_::record,
    &CK_CHACHA20_PARAMS_::record,
    &CK_SALSA20_CHACHA20_POLY1305_PARAMS_::record,
    &CK_EDDSA_PARAMS_::record,
    &CK_ECDH_AES_KEY_WRAP_PARAMS_::record,
    &CK_RSA_AES_KEY_WRAP_PARAMS_::record,
    &CK_PKCS5_PBKD2_PARAMS2_::record,
    &CK_GCM_MESSAGE_PARAMS_::record,
    &CK_CCM_MESSAGE_PARAMS_::record,
    &CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS_::record,
    &CK_HKDF_PARAMS_::record,
    &CK_SP800_108_KDF_PARAMS_::record,
    &CK_SP800_108_FEEDBACK_KDF_PARAMS_::record,
};

// The records only nested in parameter records.
const RecordDescriptor* const kNestedRecords[] = {
    &CK_VERSION_::record,
    &CK_SSL3_RANDOM_DATA_::record,
    &CK_SSL3_KEY_MAT_OUT_::record,
    &CK_SP800_108_COUNTER_FORMAT_::record,
    &CK_SP800_108_DKM_LENGTH_FORMAT_::record,
    &CK_PRF_DATA_PARAM_::record,
    &CK_DERIVED_KEY_::record,
};

static_assert(std::size(kParameterRecords) + std::size(kNestedRecords) ==
                  static_cast<std::size_t>(__COUNTER__ - kCounterBeforeRecords - 1),
              "every VORLEN_RECORD has one line in kParameterRecords or kNestedRecords");

}  // namespace

std::span<const RecordDescriptor* const> parameterRecords() { return kParameterRecords; }

namespace {

// The caller's array that receives the result member `name` of the parameter, or null.
jarray resultArray(NativeMechanism& parameter, const char* name) {
    for (std::size_t i = 0; i < parameter.resultCount(); ++i) {
        const ResultTarget& target = parameter.result(i);
        if (target.field == nullptr && std::strcmp(target.member->name, name) == 0) {
            return static_cast<jarray>(target.holder);
        }
    }
    return nullptr;
}

bool refuse(JNIEnv* env, const char* format, const char* record, const char* member,
            unsigned long a, unsigned long b) {
    char message[240];
    std::snprintf(message, sizeof message, format, record, member, a, b);
    throwIllegalArgument(env, message);
    return false;
}

// The caller's array for a tag holds all `tagBytes` of it.
bool tagFits(JNIEnv* env, NativeMechanism& parameter, const char* member, CK_ULONG tagBytes) {
    jarray array = resultArray(parameter, member);
    const CK_ULONG room = array != nullptr ? static_cast<CK_ULONG>(env->GetArrayLength(array)) : 0;
    if (room >= tagBytes && room > 0) {
        return true;
    }
    return refuse(env, "%s.%s has room for %lu bytes of a %lu-byte tag: the tag would be lost",
                  parameter.record()->name, member, room, tagBytes);
}

// An IV or nonce the module generates has room in the caller's array, at least its fixed bits.
bool generatedFits(JNIEnv* env, const char* record, const char* member, const void* pointer,
                   CK_ULONG length, CK_ULONG fixedBits, CK_GENERATOR_FUNCTION generator) {
    if (generator == CKG_NO_GENERATE) {
        return true;
    }
    if (pointer != nullptr && length > 0 && std::uint64_t{fixedBits} <= std::uint64_t{length} * 8) {
        return true;
    }
    return refuse(env, "%s.%s has %lu bytes, no room for what the module generates (generator 0x%lx)",
                  record, member, length, generator);
}

}  // namespace

bool checkMessageOutputs(JNIEnv* env, NativeMechanism& parameter, bool tag, bool generated) {
    const RecordDescriptor* record = parameter.record();
    const void* block = parameter.get()->pParameter;
    if (record == nullptr || block == nullptr) {
        return true;
    }
    if (record == &CK_GCM_MESSAGE_PARAMS_::record) {
        const auto* p = static_cast<const CK_GCM_MESSAGE_PARAMS*>(block);
        return (!tag || tagFits(env, parameter, "pTag", p->ulTagBits / 8)) &&
               (!generated || generatedFits(env, record->name, "pIv", p->pIv, p->ulIvLen,
                                            p->ulIvFixedBits, p->ivGenerator));
    }
    if (record == &CK_CCM_MESSAGE_PARAMS_::record) {
        const auto* p = static_cast<const CK_CCM_MESSAGE_PARAMS*>(block);
        return (!tag || tagFits(env, parameter, "pMAC", p->ulMACLen)) &&
               (!generated || generatedFits(env, record->name, "pNonce", p->pNonce, p->ulNonceLen,
                                            p->ulNonceFixedBits, p->nonceGenerator));
    }
    if (record == &CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS_::record) {
        return !tag || tagFits(env, parameter, "pTag", kMaxTagBytes);
    }
    return true;
}

std::span<const RecordDescriptor* const> nestedRecords() { return kNestedRecords; }

}  // namespace vorlen
