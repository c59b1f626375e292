// Writing of outputs: every writer stays within the capacity that the
// caller stated and leaves a NULL output pointer alone.
#include "framework.hpp"

#include <algorithm>
#include <cstring>

namespace vtm {

namespace {

using K = Field::Kind;

#define VTM_TEXT(T, f) {#f, offsetof(T, f), sizeof(T::f), K::Text}
#define VTM_ULONG(T, f) {#f, offsetof(T, f), sizeof(CK_ULONG), K::Ulong}
#define VTM_VERSION(T, f)                                                              \
    {#f ".major", offsetof(T, f) + offsetof(CK_VERSION, major), sizeof(CK_BYTE), K::Byte}, \
    {#f ".minor", offsetof(T, f) + offsetof(CK_VERSION, minor), sizeof(CK_BYTE), K::Byte}

const Field infoFields[] = {
    VTM_VERSION(CK_INFO, cryptokiVersion), VTM_TEXT(CK_INFO, manufacturerID),
    VTM_ULONG(CK_INFO, flags),             VTM_TEXT(CK_INFO, libraryDescription),
    VTM_VERSION(CK_INFO, libraryVersion),
};

const Field slotInfoFields[] = {
    VTM_TEXT(CK_SLOT_INFO, slotDescription),      VTM_TEXT(CK_SLOT_INFO, manufacturerID),
    VTM_ULONG(CK_SLOT_INFO, flags),               VTM_VERSION(CK_SLOT_INFO, hardwareVersion),
    VTM_VERSION(CK_SLOT_INFO, firmwareVersion),
};

const Field tokenInfoFields[] = {
    VTM_TEXT(CK_TOKEN_INFO, label),
    VTM_TEXT(CK_TOKEN_INFO, manufacturerID),
    VTM_TEXT(CK_TOKEN_INFO, model),
    VTM_TEXT(CK_TOKEN_INFO, serialNumber),
    VTM_ULONG(CK_TOKEN_INFO, flags),
    VTM_ULONG(CK_TOKEN_INFO, ulMaxSessionCount),
    VTM_ULONG(CK_TOKEN_INFO, ulSessionCount),
    VTM_ULONG(CK_TOKEN_INFO, ulMaxRwSessionCount),
    VTM_ULONG(CK_TOKEN_INFO, ulRwSessionCount),
    VTM_ULONG(CK_TOKEN_INFO, ulMaxPinLen),
    VTM_ULONG(CK_TOKEN_INFO, ulMinPinLen),
    VTM_ULONG(CK_TOKEN_INFO, ulTotalPublicMemory),
    VTM_ULONG(CK_TOKEN_INFO, ulFreePublicMemory),
    VTM_ULONG(CK_TOKEN_INFO, ulTotalPrivateMemory),
    VTM_ULONG(CK_TOKEN_INFO, ulFreePrivateMemory),
    VTM_VERSION(CK_TOKEN_INFO, hardwareVersion),
    VTM_VERSION(CK_TOKEN_INFO, firmwareVersion),
    VTM_TEXT(CK_TOKEN_INFO, utcTime),
};

const Field mechanismInfoFields[] = {
    VTM_ULONG(CK_MECHANISM_INFO, ulMinKeySize),
    VTM_ULONG(CK_MECHANISM_INFO, ulMaxKeySize),
    VTM_ULONG(CK_MECHANISM_INFO, flags),
};

const Field sessionInfoFields[] = {
    VTM_ULONG(CK_SESSION_INFO, slotID),
    VTM_ULONG(CK_SESSION_INFO, state),
    VTM_ULONG(CK_SESSION_INFO, flags),
    VTM_ULONG(CK_SESSION_INFO, ulDeviceError),
};

#undef VTM_TEXT
#undef VTM_ULONG
#undef VTM_VERSION

template <std::size_t N>
const Field* lookup(const Field (&table)[N], const std::string& name) {
    for (const Field& f : table)
        if (name == f.name) return &f;
    return nullptr;
}

/// Copies `n` values of type T, at most `cap` of them.
template <typename T>
void copyCapped(T* dst, const std::vector<T>& src, CK_ULONG cap) {
    const std::size_t n = std::min<std::size_t>(src.size(), cap);
    if (n) std::memcpy(dst, src.data(), n * sizeof(T));
}

}  // namespace

const Field* findField(RecordKind kind, const std::string& name) {
    switch (kind) {
        case RecordKind::Info: return lookup(infoFields, name);
        case RecordKind::SlotInfo: return lookup(slotInfoFields, name);
        case RecordKind::TokenInfo: return lookup(tokenInfoFields, name);
        case RecordKind::MechanismInfo: return lookup(mechanismInfoFields, name);
        case RecordKind::SessionInfo: return lookup(sessionInfoFields, name);
        case RecordKind::None: break;
    }
    return nullptr;
}

void Call::outBytes(CK_BYTE_PTR buf, CK_ULONG_PTR len, const Bytes& dflt) {
    if (!writes() || len == nullptr) return;
    const Bytes& data = step_.out ? *step_.out : dflt;
    const CK_ULONG report = step_.len.value_or(static_cast<CK_ULONG>(data.size()));
    if (buf != nullptr) {
        const CK_ULONG capacity = *len;
        if (data.size() > capacity && !step_.rv) {
            autoRv(CKR_BUFFER_TOO_SMALL);  // the standard answer: nothing written
        } else {
            copyCapped(buf, data, capacity);
        }
    }
    *len = report;
}

void Call::outList(CK_ULONG_PTR list, CK_ULONG_PTR count, const std::vector<CK_ULONG>& dflt) {
    if (!writes() || count == nullptr) return;
    const std::vector<CK_ULONG>& data = step_.handles ? *step_.handles : dflt;
    const CK_ULONG report = step_.len.value_or(static_cast<CK_ULONG>(data.size()));
    if (list != nullptr) {
        const CK_ULONG capacity = *count;
        if (data.size() > capacity && !step_.rv) {
            autoRv(CKR_BUFFER_TOO_SMALL);
        } else {
            copyCapped(list, data, capacity);
        }
    }
    *count = report;
}

void Call::outHandle(CK_ULONG_PTR p, CK_ULONG value) {
    if (writes() && p != nullptr) *p = value;
}

void Call::outRecord(void* p, RecordKind kind, const void* dflt, std::size_t size) {
    if (!writes() || p == nullptr) return;
    Bytes rec(static_cast<const std::uint8_t*>(dflt), static_cast<const std::uint8_t*>(dflt) + size);
    if (step_.rec) std::memcpy(rec.data(), step_.rec->data(), std::min(size, step_.rec->size()));
    for (const FieldSet& set : step_.fields) {
        const Field* f = findField(kind, set.name);
        if (f == nullptr) continue;  // rejected when the step was parsed
        std::uint8_t* at = rec.data() + f->offset;
        switch (f->kind) {
            case Field::Kind::Text:
                std::memset(at, ' ', f->size);
                std::memcpy(at, set.text.data(), std::min(f->size, set.text.size()));
                break;
            case Field::Kind::Byte: *at = static_cast<CK_BYTE>(set.number); break;
            case Field::Kind::Ulong: std::memcpy(at, &set.number, sizeof(CK_ULONG)); break;
        }
    }
    std::memcpy(p, rec.data(), size);
}

void Call::outParameters(CK_MECHANISM_PTR m) {
    if (!writes() || m == nullptr || m->pParameter == nullptr) return;
    auto* block = static_cast<std::uint8_t*>(m->pParameter);
    const CK_ULONG size = m->ulParameterLen;
    for (const ParamWrite& w : step_.param) {
        if (w.offset <= size && w.bytes.size() <= size - w.offset)
            std::memcpy(block + w.offset, w.bytes.data(), w.bytes.size());
    }
    if (step_.pbeIv && size >= sizeof(CK_PBE_PARAMS)) {
        CK_PBE_PARAMS params;
        std::memcpy(&params, block, sizeof params);
        // The standard's initialization vector of these mechanisms has 8 bytes.
        if (params.pInitVector != nullptr)
            std::memcpy(params.pInitVector, step_.pbeIv->data(), std::min<std::size_t>(8, step_.pbeIv->size()));
    }
    if (step_.sslVersion && size >= sizeof(CK_SSL3_MASTER_KEY_DERIVE_PARAMS)) {
        CK_SSL3_MASTER_KEY_DERIVE_PARAMS params;
        std::memcpy(&params, block, sizeof params);
        if (params.pVersion != nullptr) {
            params.pVersion->major = step_.sslVersion->first;
            params.pVersion->minor = step_.sslVersion->second;
        }
    }
    if ((step_.sslKeyMat || step_.sslIvClient || step_.sslIvServer) && size >= sizeof(CK_SSL3_KEY_MAT_PARAMS)) {
        CK_SSL3_KEY_MAT_PARAMS params;
        std::memcpy(&params, block, sizeof params);
        CK_SSL3_KEY_MAT_OUT* out = params.pReturnedKeyMaterial;
        if (out != nullptr) {
            if (step_.sslKeyMat) {
                const std::vector<CK_ULONG>& h = *step_.sslKeyMat;  // four handles, checked by the parser
                out->hClientMacSecret = h[0];
                out->hServerMacSecret = h[1];
                out->hClientKey = h[2];
                out->hServerKey = h[3];
            }
            const std::size_t ivBytes = params.ulIVSizeInBits / 8;
            if (step_.sslIvClient && out->pIVClient != nullptr)
                std::memcpy(out->pIVClient, step_.sslIvClient->data(), std::min(ivBytes, step_.sslIvClient->size()));
            if (step_.sslIvServer && out->pIVServer != nullptr)
                std::memcpy(out->pIVServer, step_.sslIvServer->data(), std::min(ivBytes, step_.sslIvServer->size()));
        }
    }
    if (step_.sp800Keys &&
        (size == sizeof(CK_SP800_108_KDF_PARAMS) || size == sizeof(CK_SP800_108_FEEDBACK_KDF_PARAMS))) {
        CK_ULONG count = 0;
        CK_DERIVED_KEY* keys = nullptr;
        if (size == sizeof(CK_SP800_108_KDF_PARAMS)) {
            CK_SP800_108_KDF_PARAMS params;
            std::memcpy(&params, block, sizeof params);
            count = params.ulAdditionalDerivedKeys;
            keys = params.pAdditionalDerivedKeys;
        } else {
            CK_SP800_108_FEEDBACK_KDF_PARAMS params;
            std::memcpy(&params, block, sizeof params);
            count = params.ulAdditionalDerivedKeys;
            keys = params.pAdditionalDerivedKeys;
        }
        for (CK_ULONG i = 0; keys != nullptr && i < count && i < step_.sp800Keys->size(); ++i) {
            CK_DERIVED_KEY key;
            std::memcpy(&key, reinterpret_cast<std::uint8_t*>(keys) + i * sizeof key, sizeof key);
            if (key.phKey != nullptr) *key.phKey = (*step_.sp800Keys)[i];
        }
    }
    if ((step_.oaepBC || step_.oaepX) && size >= sizeof(CK_KEY_WRAP_SET_OAEP_PARAMS)) {
        CK_KEY_WRAP_SET_OAEP_PARAMS copy;
        std::memcpy(&copy, block, sizeof copy);
        if (step_.oaepBC) copy.bBC = *step_.oaepBC;
        if (step_.oaepX) {
            const CK_ULONG needed = static_cast<CK_ULONG>(step_.oaepX->size());
            if (copy.pX != nullptr) {
                if (needed > copy.ulXLen && !step_.rv) {
                    autoRv(CKR_BUFFER_TOO_SMALL);
                } else {
                    std::memcpy(copy.pX, step_.oaepX->data(), std::min(needed, copy.ulXLen));
                }
            }
            copy.ulXLen = needed;
        }
        std::memcpy(block, &copy, sizeof copy);
    }
}

}  // namespace vtm
