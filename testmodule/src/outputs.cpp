// Writing of outputs: every writer stays within the capacity that the
// caller stated and leaves a NULL output pointer alone.
#include "framework.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vtm {

namespace {

using K = Field::Kind;

// One row per record kind, in the order of RecordKind: VTM_RECORD(S, fields...) names the
// structure S, whose fields the macros below declare through the alias T.
#define VTM_RECORD(S, ...)                       \
    [] {                                         \
        using T = S;                             \
        return std::vector<Field>{__VA_ARGS__};  \
    }()
#define VTM_TEXT(f) {#f, offsetof(T, f), sizeof(T::f), K::Text}
#define VTM_ULONG(f) {#f, offsetof(T, f), sizeof(CK_ULONG), K::Ulong}
#define VTM_VERSION(f)                                                   \
    {#f ".major", offsetof(T, f.major), sizeof(CK_BYTE), K::Byte}, \
    {#f ".minor", offsetof(T, f.minor), sizeof(CK_BYTE), K::Byte}

const std::vector<Field> fieldsOf[] = {
    {},
    VTM_RECORD(CK_INFO, VTM_VERSION(cryptokiVersion), VTM_TEXT(manufacturerID), VTM_ULONG(flags),
               VTM_TEXT(libraryDescription), VTM_VERSION(libraryVersion)),
    VTM_RECORD(CK_SLOT_INFO, VTM_TEXT(slotDescription), VTM_TEXT(manufacturerID), VTM_ULONG(flags),
               VTM_VERSION(hardwareVersion), VTM_VERSION(firmwareVersion)),
    VTM_RECORD(CK_TOKEN_INFO, VTM_TEXT(label), VTM_TEXT(manufacturerID), VTM_TEXT(model), VTM_TEXT(serialNumber),
               VTM_ULONG(flags), VTM_ULONG(ulMaxSessionCount), VTM_ULONG(ulSessionCount),
               VTM_ULONG(ulMaxRwSessionCount), VTM_ULONG(ulRwSessionCount), VTM_ULONG(ulMaxPinLen),
               VTM_ULONG(ulMinPinLen), VTM_ULONG(ulTotalPublicMemory), VTM_ULONG(ulFreePublicMemory),
               VTM_ULONG(ulTotalPrivateMemory), VTM_ULONG(ulFreePrivateMemory), VTM_VERSION(hardwareVersion),
               VTM_VERSION(firmwareVersion), VTM_TEXT(utcTime)),
    VTM_RECORD(CK_MECHANISM_INFO, VTM_ULONG(ulMinKeySize), VTM_ULONG(ulMaxKeySize), VTM_ULONG(flags)),
    VTM_RECORD(CK_SESSION_INFO, VTM_ULONG(slotID), VTM_ULONG(state), VTM_ULONG(flags), VTM_ULONG(ulDeviceError)),
};

#undef VTM_RECORD
#undef VTM_TEXT
#undef VTM_ULONG
#undef VTM_VERSION

static_assert(std::size(fieldsOf) == static_cast<std::size_t>(RecordKind::SessionInfo) + 1,
              "one row of fields per RecordKind");

/// A copy of the record of type P at the start of `block`, when the block holds one.
template <typename P>
std::optional<P> recordAt(const std::uint8_t* block, CK_ULONG size) {
    if (size < sizeof(P)) return std::nullopt;
    P record;
    std::memcpy(&record, block, sizeof record);
    return record;
}

}  // namespace

const Field* findField(RecordKind kind, const std::string& name) {
    for (const Field& f : fieldsOf[static_cast<std::size_t>(kind)])
        if (name == f.name) return &f;
    return nullptr;
}

template <typename T>
void Call::outValues(T* buf, CK_ULONG_PTR len, const std::vector<T>& data) {
    if (!writes() || len == nullptr) return;
    const CK_ULONG report = step_.len.value_or(static_cast<CK_ULONG>(data.size()));
    if (buf != nullptr) {
        const CK_ULONG capacity = *len;
        if (data.size() > capacity && !step_.rv) {
            autoRv(CKR_BUFFER_TOO_SMALL);  // the standard answer: nothing written
        } else if (const std::size_t n = std::min<std::size_t>(data.size(), capacity)) {
            std::memcpy(buf, data.data(), n * sizeof(T));
        }
    }
    *len = report;
}

template void Call::outValues(CK_INTERFACE*, CK_ULONG_PTR, const std::vector<CK_INTERFACE>&);

void Call::outBytes(CK_BYTE_PTR buf, CK_ULONG_PTR len, const Bytes& dflt) {
    outValues(buf, len, step_.out ? *step_.out : dflt);
}

void Call::outList(CK_ULONG_PTR list, CK_ULONG_PTR count, const std::vector<CK_ULONG>& dflt) {
    outValues(list, count, step_.handles ? *step_.handles : dflt);
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
    const auto pbe = recordAt<CK_PBE_PARAMS>(block, size);
    // The standard's initialization vector of these mechanisms has 8 bytes.
    if (step_.pbeIv && pbe && pbe->pInitVector != nullptr)
        std::memcpy(pbe->pInitVector, step_.pbeIv->data(), std::min<std::size_t>(8, step_.pbeIv->size()));
    const auto master = recordAt<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>(block, size);
    if (step_.sslVersion && master && master->pVersion != nullptr)
        *master->pVersion = CK_VERSION{step_.sslVersion->first, step_.sslVersion->second};
    const auto keyMat = recordAt<CK_SSL3_KEY_MAT_PARAMS>(block, size);
    // Only a step that scripts key material reads the block as CK_SSL3_KEY_MAT_PARAMS's.
    const bool keyMatScripted = step_.sslKeyMat || step_.sslIvClient || step_.sslIvServer;
    if (CK_SSL3_KEY_MAT_OUT* out = keyMat && keyMatScripted ? keyMat->pReturnedKeyMaterial : nullptr) {
        if (step_.sslKeyMat) {
            const std::vector<CK_ULONG>& h = *step_.sslKeyMat;  // four handles, checked by the parser
            out->hClientMacSecret = h[0];
            out->hServerMacSecret = h[1];
            out->hClientKey = h[2];
            out->hServerKey = h[3];
        }
        const std::size_t ivBytes = keyMat->ulIVSizeInBits / 8;
        if (step_.sslIvClient && out->pIVClient != nullptr)
            std::memcpy(out->pIVClient, step_.sslIvClient->data(), std::min(ivBytes, step_.sslIvClient->size()));
        if (step_.sslIvServer && out->pIVServer != nullptr)
            std::memcpy(out->pIVServer, step_.sslIvServer->data(), std::min(ivBytes, step_.sslIvServer->size()));
    }
    if (step_.sp800Keys &&
        (size == sizeof(CK_SP800_108_KDF_PARAMS) || size == sizeof(CK_SP800_108_FEEDBACK_KDF_PARAMS))) {
        // The two records have the further keys under the same names.
        const auto further = [&](auto params) {
            std::memcpy(&params, block, sizeof params);
            return std::pair(params.ulAdditionalDerivedKeys, params.pAdditionalDerivedKeys);
        };
        const bool feedback = size == sizeof(CK_SP800_108_FEEDBACK_KDF_PARAMS);
        const auto [count, keys] =
                feedback ? further(CK_SP800_108_FEEDBACK_KDF_PARAMS{}) : further(CK_SP800_108_KDF_PARAMS{});
        for (CK_ULONG i = 0; keys != nullptr && i < count && i < step_.sp800Keys->size(); ++i) {
            CK_DERIVED_KEY key;
            std::memcpy(&key, reinterpret_cast<std::uint8_t*>(keys) + i * sizeof key, sizeof key);
            if (key.phKey != nullptr) *key.phKey = (*step_.sp800Keys)[i];
        }
    }
    auto oaep = recordAt<CK_KEY_WRAP_SET_OAEP_PARAMS>(block, size);
    if ((step_.oaepBC || step_.oaepX) && oaep) {
        if (step_.oaepBC) oaep->bBC = *step_.oaepBC;
        if (step_.oaepX) {
            const CK_ULONG needed = static_cast<CK_ULONG>(step_.oaepX->size());
            if (oaep->pX != nullptr) {
                if (needed > oaep->ulXLen && !step_.rv) {
                    autoRv(CKR_BUFFER_TOO_SMALL);
                } else {
                    std::memcpy(oaep->pX, step_.oaepX->data(), std::min(needed, oaep->ulXLen));
                }
            }
            oaep->ulXLen = needed;
        }
        std::memcpy(block, &*oaep, sizeof *oaep);
    }
}

}  // namespace vtm
