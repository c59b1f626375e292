// Decoding of mechanism parameter records for the record: a step with
// `decode=<STRUCT>` makes an entry that records a mechanism read pParameter
// as that structure and record each field as `param.<field>=`. Scalars are
// decimal; buffers are read by the length field the structure gives them (or
// their fixed size) as `hex:` or `null`; pointers that are only passed on are
// `ptr` or `null`.
//
// A block whose length is not the structure's size is not read: the line
// gets `param=mismatch`; otherwise it gets `param=<STRUCT>` first.
#include "framework.hpp"

#include <algorithm>
#include <cstring>

namespace vtm {

namespace {

/// How one field of a parameter record is decoded.
struct ParamField {
    enum class Kind {
        Ulong,    ///< a CK_ULONG
        Byte,     ///< a CK_BYTE or CK_BBOOL
        Bytes,    ///< a pointer, its bytes counted by the CK_ULONG at `extra`
        Fixed,    ///< a pointer to `extra` bytes
        Inline,   ///< `extra` bytes in the record itself
        Pointer,  ///< a pointer recorded as ptr or null only
        KeyMat,   ///< a CK_SSL3_KEY_MAT_OUT pointer; IV bits in the CK_ULONG at `extra`
        BitBytes, ///< a pointer, its length in bits in the CK_ULONG at `extra`
        Record,   ///< a pointer to the record `record`, decoded as `<field>.<its fields>`
        Records,  ///< a pointer to CK_ULONG at `extra` records `record`: `<field>[i].<its fields>`
        Template, ///< a CK_ATTRIBUTE pointer, its count in the CK_ULONG at `extra`
        Handle,   ///< a pointer to a CK_ULONG, recorded as its value (or null)
    };
    const char* name;
    std::size_t offset;
    Kind kind;
    std::size_t extra;
    const char* record = nullptr;
};

struct ParamStruct {
    const char* name;
    std::size_t size;
    std::vector<ParamField> fields;
};

using K = ParamField::Kind;

// One row per structure: VTM_STRUCT(S, fields...) names the structure S, whose fields the
// macros below declare through the alias T; nested fields as RandomInfo.pClientRandom.
#define VTM_STRUCT(S, ...)                                   \
    [] {                                                     \
        using T = S;                                         \
        return ParamStruct{#S, sizeof(T), {__VA_ARGS__}};    \
    }()
#define VTM_UL(f) {#f, offsetof(T, f), K::Ulong, 0}
#define VTM_BYTE(f) {#f, offsetof(T, f), K::Byte, 0}
#define VTM_BYTES(f, len) {#f, offsetof(T, f), K::Bytes, offsetof(T, len)}
#define VTM_INLINE(f) {#f, offsetof(T, f), K::Inline, sizeof(T::f)}
#define VTM_BITS(f, bits) {#f, offsetof(T, f), K::BitBytes, offsetof(T, bits)}
#define VTM_RECORDS(f, count, record) {#f, offsetof(T, f), K::Records, offsetof(T, count), record}
#define VTM_RANDOM                                                                                      \
    VTM_BYTES(RandomInfo.pClientRandom, RandomInfo.ulClientRandomLen), VTM_UL(RandomInfo.ulClientRandomLen), \
        VTM_BYTES(RandomInfo.pServerRandom, RandomInfo.ulServerRandomLen), VTM_UL(RandomInfo.ulServerRandomLen)

const std::vector<ParamStruct>& structs() {
    static const std::vector<ParamStruct> table = {
        VTM_STRUCT(CK_RSA_PKCS_OAEP_PARAMS, VTM_UL(hashAlg), VTM_UL(mgf), VTM_UL(source),
                   VTM_BYTES(pSourceData, ulSourceDataLen), VTM_UL(ulSourceDataLen)),
        VTM_STRUCT(CK_KEA_DERIVE_PARAMS, VTM_BYTE(isSender), VTM_UL(ulRandomLen), VTM_BYTES(pRandomA, ulRandomLen),
                   VTM_BYTES(pRandomB, ulRandomLen), VTM_UL(ulPublicDataLen),
                   VTM_BYTES(pPublicData, ulPublicDataLen)),
        VTM_STRUCT(CK_RC2_CBC_PARAMS, VTM_UL(ulEffectiveBits), VTM_INLINE(iv)),
        VTM_STRUCT(CK_RC2_MAC_GENERAL_PARAMS, VTM_UL(ulEffectiveBits), VTM_UL(ulMacLength)),
        VTM_STRUCT(CK_RC5_PARAMS, VTM_UL(ulWordsize), VTM_UL(ulRounds)),
        VTM_STRUCT(CK_RC5_CBC_PARAMS, VTM_UL(ulWordsize), VTM_UL(ulRounds), VTM_BYTES(pIv, ulIvLen),
                   VTM_UL(ulIvLen)),
        VTM_STRUCT(CK_RC5_MAC_GENERAL_PARAMS, VTM_UL(ulWordsize), VTM_UL(ulRounds), VTM_UL(ulMacLength)),
        VTM_STRUCT(CK_SKIPJACK_PRIVATE_WRAP_PARAMS, VTM_UL(ulPasswordLen), VTM_BYTES(pPassword, ulPasswordLen),
                   VTM_UL(ulPublicDataLen), VTM_BYTES(pPublicData, ulPublicDataLen), VTM_UL(ulPAndGLen),
                   VTM_UL(ulQLen), VTM_UL(ulRandomLen), VTM_BYTES(pRandomA, ulRandomLen),
                   VTM_BYTES(pPrimeP, ulPAndGLen), VTM_BYTES(pBaseG, ulPAndGLen), VTM_BYTES(pSubprimeQ, ulQLen)),
        VTM_STRUCT(CK_SKIPJACK_RELAYX_PARAMS, VTM_UL(ulOldWrappedXLen), VTM_BYTES(pOldWrappedX, ulOldWrappedXLen),
                   VTM_UL(ulOldPasswordLen), VTM_BYTES(pOldPassword, ulOldPasswordLen), VTM_UL(ulOldPublicDataLen),
                   VTM_BYTES(pOldPublicData, ulOldPublicDataLen), VTM_UL(ulOldRandomLen),
                   VTM_BYTES(pOldRandomA, ulOldRandomLen), VTM_UL(ulNewPasswordLen),
                   VTM_BYTES(pNewPassword, ulNewPasswordLen), VTM_UL(ulNewPublicDataLen),
                   VTM_BYTES(pNewPublicData, ulNewPublicDataLen), VTM_UL(ulNewRandomLen),
                   VTM_BYTES(pNewRandomA, ulNewRandomLen)),
        // pInitVector receives the 8-byte IV of the PBE key generations.
        VTM_STRUCT(CK_PBE_PARAMS, {"pInitVector", offsetof(T, pInitVector), K::Fixed, 8},
                   VTM_BYTES(pPassword, ulPasswordLen), VTM_UL(ulPasswordLen), VTM_BYTES(pSalt, ulSaltLen),
                   VTM_UL(ulSaltLen), VTM_UL(ulIteration)),
        VTM_STRUCT(CK_PKCS5_PBKD2_PARAMS, VTM_UL(saltSource), VTM_BYTES(pSaltSourceData, ulSaltSourceDataLen),
                   VTM_UL(ulSaltSourceDataLen), VTM_UL(iterations), VTM_UL(prf), VTM_BYTES(pPrfData, ulPrfDataLen),
                   VTM_UL(ulPrfDataLen), {"pPassword", offsetof(T, pPassword), K::Pointer, 0},
                   {"ulPasswordLen", offsetof(T, ulPasswordLen), K::Pointer, 0}),
        VTM_STRUCT(CK_KEY_DERIVATION_STRING_DATA, VTM_BYTES(pData, ulLen), VTM_UL(ulLen)),
        VTM_STRUCT(CK_KEY_WRAP_SET_OAEP_PARAMS, VTM_BYTE(bBC), VTM_BYTES(pX, ulXLen), VTM_UL(ulXLen)),
        VTM_STRUCT(CK_SSL3_MASTER_KEY_DERIVE_PARAMS, VTM_RANDOM,
                   {"pVersion", offsetof(T, pVersion), K::Fixed, sizeof(CK_VERSION)}),
        VTM_STRUCT(CK_SSL3_KEY_MAT_PARAMS, VTM_UL(ulMacSizeInBits), VTM_UL(ulKeySizeInBits), VTM_UL(ulIVSizeInBits),
                   VTM_BYTE(bIsExport), VTM_RANDOM,
                   {"pReturnedKeyMaterial", offsetof(T, pReturnedKeyMaterial), K::KeyMat, offsetof(T, ulIVSizeInBits)}),
        VTM_STRUCT(CK_RSA_PKCS_PSS_PARAMS, VTM_UL(hashAlg), VTM_UL(mgf), VTM_UL(sLen)),
        VTM_STRUCT(CK_ECDH1_DERIVE_PARAMS, VTM_UL(kdf), VTM_UL(ulSharedDataLen),
                   VTM_BYTES(pSharedData, ulSharedDataLen), VTM_UL(ulPublicDataLen),
                   VTM_BYTES(pPublicData, ulPublicDataLen)),
        VTM_STRUCT(CK_ECDH2_DERIVE_PARAMS, VTM_UL(kdf), VTM_UL(ulSharedDataLen),
                   VTM_BYTES(pSharedData, ulSharedDataLen), VTM_UL(ulPublicDataLen),
                   VTM_BYTES(pPublicData, ulPublicDataLen), VTM_UL(ulPrivateDataLen), VTM_UL(hPrivateData),
                   VTM_UL(ulPublicDataLen2), VTM_BYTES(pPublicData2, ulPublicDataLen2)),
        VTM_STRUCT(CK_X9_42_DH1_DERIVE_PARAMS, VTM_UL(kdf), VTM_UL(ulOtherInfoLen),
                   VTM_BYTES(pOtherInfo, ulOtherInfoLen), VTM_UL(ulPublicDataLen),
                   VTM_BYTES(pPublicData, ulPublicDataLen)),
        VTM_STRUCT(CK_X9_42_DH2_DERIVE_PARAMS, VTM_UL(kdf), VTM_UL(ulOtherInfoLen),
                   VTM_BYTES(pOtherInfo, ulOtherInfoLen), VTM_UL(ulPublicDataLen),
                   VTM_BYTES(pPublicData, ulPublicDataLen), VTM_UL(ulPrivateDataLen), VTM_UL(hPrivateData),
                   VTM_UL(ulPublicDataLen2), VTM_BYTES(pPublicData2, ulPublicDataLen2)),
        // The records of the newer mechanisms.
        VTM_STRUCT(CK_GCM_PARAMS, VTM_BYTES(pIv, ulIvLen), VTM_UL(ulIvLen), VTM_UL(ulIvBits),
                   VTM_BYTES(pAAD, ulAADLen), VTM_UL(ulAADLen), VTM_UL(ulTagBits)),
        VTM_STRUCT(CK_GCM_PARAMS_WITHOUT_IV_BITS, VTM_BYTES(pIv, ulIvLen), VTM_UL(ulIvLen),
                   VTM_BYTES(pAAD, ulAADLen), VTM_UL(ulAADLen), VTM_UL(ulTagBits)),
        VTM_STRUCT(CK_CCM_PARAMS, VTM_UL(ulDataLen), VTM_BYTES(pNonce, ulNonceLen), VTM_UL(ulNonceLen),
                   VTM_BYTES(pAAD, ulAADLen), VTM_UL(ulAADLen), VTM_UL(ulMACLen)),
        VTM_STRUCT(CK_AES_CTR_PARAMS, VTM_UL(ulCounterBits), VTM_INLINE(cb)),
        VTM_STRUCT(CK_AES_CBC_ENCRYPT_DATA_PARAMS, VTM_INLINE(iv), VTM_BYTES(pData, length), VTM_UL(length)),
        VTM_STRUCT(CK_DES_CBC_ENCRYPT_DATA_PARAMS, VTM_INLINE(iv), VTM_BYTES(pData, length), VTM_UL(length)),
        VTM_STRUCT(CK_CHACHA20_PARAMS, VTM_BITS(pBlockCounter, blockCounterBits), VTM_UL(blockCounterBits),
                   VTM_BITS(pNonce, ulNonceBits), VTM_UL(ulNonceBits)),
        VTM_STRUCT(CK_SALSA20_CHACHA20_POLY1305_PARAMS, VTM_BYTES(pNonce, ulNonceLen), VTM_UL(ulNonceLen),
                   VTM_BYTES(pAAD, ulAADLen), VTM_UL(ulAADLen)),
        VTM_STRUCT(CK_EDDSA_PARAMS, VTM_BYTE(phFlag), VTM_UL(ulContextDataLen),
                   VTM_BYTES(pContextData, ulContextDataLen)),
        VTM_STRUCT(CK_ECDH_AES_KEY_WRAP_PARAMS, VTM_UL(ulAESKeyBits), VTM_UL(kdf), VTM_UL(ulSharedDataLen),
                   VTM_BYTES(pSharedData, ulSharedDataLen)),
        VTM_STRUCT(CK_RSA_AES_KEY_WRAP_PARAMS, VTM_UL(ulAESKeyBits),
                   {"pOAEPParams", offsetof(T, pOAEPParams), K::Record, 0, "CK_RSA_PKCS_OAEP_PARAMS"}),
        VTM_STRUCT(CK_PKCS5_PBKD2_PARAMS2, VTM_UL(saltSource), VTM_BYTES(pSaltSourceData, ulSaltSourceDataLen),
                   VTM_UL(ulSaltSourceDataLen), VTM_UL(iterations), VTM_UL(prf), VTM_BYTES(pPrfData, ulPrfDataLen),
                   VTM_UL(ulPrfDataLen), VTM_BYTES(pPassword, ulPasswordLen), VTM_UL(ulPasswordLen)),
        // SP 800-108 and its parts.
        VTM_STRUCT(CK_PRF_DATA_PARAM, VTM_UL(type), VTM_BYTES(pValue, ulValueLen), VTM_UL(ulValueLen)),
        VTM_STRUCT(CK_DERIVED_KEY, {"pTemplate", offsetof(T, pTemplate), K::Template, offsetof(T, ulAttributeCount)},
                   VTM_UL(ulAttributeCount), {"phKey", offsetof(T, phKey), K::Handle, 0}),
        VTM_STRUCT(CK_SP800_108_KDF_PARAMS, VTM_UL(prfType), VTM_UL(ulNumberOfDataParams),
                   VTM_RECORDS(pDataParams, ulNumberOfDataParams, "CK_PRF_DATA_PARAM"), VTM_UL(ulAdditionalDerivedKeys),
                   VTM_RECORDS(pAdditionalDerivedKeys, ulAdditionalDerivedKeys, "CK_DERIVED_KEY")),
        VTM_STRUCT(CK_SP800_108_FEEDBACK_KDF_PARAMS, VTM_UL(prfType), VTM_UL(ulNumberOfDataParams),
                   VTM_RECORDS(pDataParams, ulNumberOfDataParams, "CK_PRF_DATA_PARAM"),
                   VTM_UL(ulIVLen), VTM_BYTES(pIV, ulIVLen), VTM_UL(ulAdditionalDerivedKeys),
                   VTM_RECORDS(pAdditionalDerivedKeys, ulAdditionalDerivedKeys, "CK_DERIVED_KEY")),
        // The per-message parameters of the message-based functions, and HKDF.
        VTM_STRUCT(CK_GCM_MESSAGE_PARAMS, VTM_BYTES(pIv, ulIvLen), VTM_UL(ulIvLen), VTM_UL(ulIvFixedBits),
                   VTM_UL(ivGenerator), VTM_BITS(pTag, ulTagBits), VTM_UL(ulTagBits)),
        VTM_STRUCT(CK_CCM_MESSAGE_PARAMS, VTM_UL(ulDataLen), VTM_BYTES(pNonce, ulNonceLen), VTM_UL(ulNonceLen),
                   VTM_UL(ulNonceFixedBits), VTM_UL(nonceGenerator), VTM_BYTES(pMAC, ulMACLen), VTM_UL(ulMACLen)),
        VTM_STRUCT(CK_SALSA20_CHACHA20_POLY1305_MSG_PARAMS, VTM_BYTES(pNonce, ulNonceLen), VTM_UL(ulNonceLen),
                   {"pTag", offsetof(T, pTag), K::Fixed, 16}),
        VTM_STRUCT(CK_HKDF_PARAMS, VTM_BYTE(bExtract), VTM_BYTE(bExpand), VTM_UL(prfHashMechanism),
                   VTM_UL(ulSaltType), VTM_BYTES(pSalt, ulSaltLen), VTM_UL(ulSaltLen), VTM_UL(hSaltKey),
                   VTM_BYTES(pInfo, ulInfoLen), VTM_UL(ulInfoLen)),
    };
    return table;
}

#undef VTM_UL
#undef VTM_BYTE
#undef VTM_BYTES
#undef VTM_INLINE
#undef VTM_BITS
#undef VTM_RECORDS
#undef VTM_RANDOM
#undef VTM_STRUCT

const ParamStruct* findStruct(const std::string& name) {
    for (const ParamStruct& s : structs())
        if (name == s.name) return &s;
    return nullptr;
}

template <typename T>
T read(const std::uint8_t* block, std::size_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof value);
    return value;
}

/// The handles and IVs that a CK_SSL3_KEY_MAT_OUT holds before the module writes into it.
void decodeKeyMat(Call& c, const std::string& key, const CK_SSL3_KEY_MAT_OUT* out, CK_ULONG ivBytes) {
    if (out == nullptr) {
        c.raw(key.c_str(), "null");
        return;
    }
    c.raw(key.c_str(), "ptr");
    c.scalar((key + ".hClientMacSecret").c_str(), out->hClientMacSecret);
    c.scalar((key + ".hServerMacSecret").c_str(), out->hServerMacSecret);
    c.scalar((key + ".hClientKey").c_str(), out->hClientKey);
    c.scalar((key + ".hServerKey").c_str(), out->hServerKey);
    c.bytes((key + ".pIVClient").c_str(), out->pIVClient, ivBytes);
    c.bytes((key + ".pIVServer").c_str(), out->pIVServer, ivBytes);
}

void decodeFields(Call& c, const std::string& prefix, const ParamStruct& s, const std::uint8_t* block) {
    const auto ulong = [block](std::size_t offset) { return read<CK_ULONG>(block, offset); };
    for (const ParamField& f : s.fields) {
        const std::string key = prefix + f.name;
        const char* k = key.c_str();
        // Only pointer fields are read as a pointer: a field of another kind may be the last of the block.
        const auto pointer = [&] { return read<const void*>(block, f.offset); };
        switch (f.kind) {
            case K::Ulong: c.scalar(k, ulong(f.offset)); break;
            case K::Byte: c.scalar(k, block[f.offset]); break;
            case K::Bytes: c.bytes(k, pointer(), ulong(f.extra)); break;
            case K::Fixed: c.bytes(k, pointer(), static_cast<CK_ULONG>(f.extra)); break;
            case K::Inline: c.bytes(k, block + f.offset, static_cast<CK_ULONG>(f.extra)); break;
            case K::Pointer: c.pointer(k, pointer()); break;
            case K::KeyMat:
                decodeKeyMat(c, key, static_cast<const CK_SSL3_KEY_MAT_OUT*>(pointer()), ulong(f.extra) / 8);
                break;
            case K::BitBytes: c.bytes(k, pointer(), ulong(f.extra) / 8); break;
            case K::Template: c.tmpl(k, static_cast<const CK_ATTRIBUTE*>(pointer()), ulong(f.extra)); break;
            case K::Handle: {
                const auto* handle = static_cast<const CK_ULONG*>(pointer());
                if (handle == nullptr) c.raw(k, "null");
                else c.scalar(k, *handle);
                break;
            }
            case K::Records: {
                const auto* first = static_cast<const std::uint8_t*>(pointer());
                c.pointer(k, first);
                const ParamStruct& element = *findStruct(f.record);
                const CK_ULONG count = first == nullptr ? 0 : ulong(f.extra);
                for (CK_ULONG i = 0; i < count && i < 64; ++i)
                    decodeFields(c, key + "[" + std::to_string(i) + "].", element, first + i * element.size);
                break;
            }
            case K::Record: {
                const auto* nested = static_cast<const std::uint8_t*>(pointer());
                c.pointer(k, nested);
                if (nested != nullptr) decodeFields(c, key + ".", *findStruct(f.record), nested);
                break;
            }
        }
    }
}

}  // namespace

bool knownParameterStruct(const std::string& name) { return findStruct(name) != nullptr; }

bool writeParameterField(const std::string& name, void* block, CK_ULONG length, const std::string& field,
                         const Bytes& bytes) {
    const ParamStruct* s = findStruct(name);
    if (s == nullptr || block == nullptr || length != s->size) return false;
    const auto* base = static_cast<const std::uint8_t*>(block);
    for (const ParamField& f : s->fields) {
        if (field != f.name) continue;
        std::size_t room = 0;
        switch (f.kind) {
            case K::Bytes: room = read<CK_ULONG>(base, f.extra); break;
            case K::Fixed: room = f.extra; break;
            case K::BitBytes: room = (read<CK_ULONG>(base, f.extra) + 7) / 8; break;
            default: return false;
        }
        auto* target = read<std::uint8_t*>(base, f.offset);
        if (target != nullptr) std::memcpy(target, bytes.data(), std::min(room, bytes.size()));
        return true;
    }
    return false;
}

void decodeParameter(Call& c, const std::string& name, const CK_MECHANISM& m) {
    const ParamStruct* s = findStruct(name);
    if (s == nullptr || m.pParameter == nullptr || m.ulParameterLen != s->size) {
        c.raw("param", "mismatch");
        return;
    }
    c.raw("param", s->name);
    decodeFields(c, "param.", *s, static_cast<const std::uint8_t*>(m.pParameter));
}

}  // namespace vtm
