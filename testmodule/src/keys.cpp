// Key management, C_GenerateRandom and the parallel-function entries (C_SeedRandom, an
// entry of one input, is in crypto.cpp). Key entries may write results into the
// mechanism parameters (see Call::outParameters).
#include "entries.hpp"

#include <algorithm>
#include <cstring>

namespace vtm::entry {

CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
    Call c("C_GenerateKey", hSession);
    c.mechanism(pMechanism).tmpl("pTemplate", pTemplate, ulCount);
    c.scalar("ulCount", ulCount).pointer("phKey", phKey).require(pMechanism).require(phKey);
    c.outParameters(pMechanism);
    c.outHandle(phKey, newObjectHandle(c.step()));
    return c.finish();
}

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                        CK_ATTRIBUTE_PTR pPublicKeyTemplate, CK_ULONG ulPublicKeyAttributeCount,
                        CK_ATTRIBUTE_PTR pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
                        CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
    Call c("C_GenerateKeyPair", hSession);
    c.mechanism(pMechanism);
    c.tmpl("pPublicKeyTemplate", pPublicKeyTemplate, ulPublicKeyAttributeCount);
    c.scalar("ulPublicKeyAttributeCount", ulPublicKeyAttributeCount);
    c.tmpl("pPrivateKeyTemplate", pPrivateKeyTemplate, ulPrivateKeyAttributeCount);
    c.scalar("ulPrivateKeyAttributeCount", ulPrivateKeyAttributeCount);
    c.pointer("phPublicKey", phPublicKey).pointer("phPrivateKey", phPrivateKey);
    c.require(pMechanism).require(phPublicKey).require(phPrivateKey);
    c.outParameters(pMechanism);
    // `handles=<public>,<private>` or two handles of the counter.
    const std::vector<CK_ULONG>& h = c.step().handles.value_or(std::vector<CK_ULONG>{});
    Step counter;  // no scripted handle: take the next two of the counter
    c.outHandle(phPublicKey, h.size() > 0 ? h[0] : newObjectHandle(counter));
    c.outHandle(phPrivateKey, h.size() > 1 ? h[1] : newObjectHandle(counter));
    return c.finish();
}

CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) {
    Call c("C_WrapKey", hSession);
    c.mechanism(pMechanism).scalar("hWrappingKey", hWrappingKey).scalar("hKey", hKey);
    c.pointer("pWrappedKey", pWrappedKey).inLen("pulWrappedKeyLen", pulWrappedKeyLen);
    c.require(pMechanism).require(pulWrappedKeyLen);
    c.outParameters(pMechanism);
    c.outBytes(pWrappedKey, pulWrappedKeyLen, pattern(24));
    return c.finish();
}

CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                  CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                  CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    Call c("C_UnwrapKey", hSession);
    c.mechanism(pMechanism).scalar("hUnwrappingKey", hUnwrappingKey);
    c.bytes("pWrappedKey", pWrappedKey, ulWrappedKeyLen).scalar("ulWrappedKeyLen", ulWrappedKeyLen);
    c.tmpl("pTemplate", pTemplate, ulAttributeCount).scalar("ulAttributeCount", ulAttributeCount);
    c.pointer("phKey", phKey).require(pMechanism).require(phKey);
    if (ulWrappedKeyLen > 0) c.require(pWrappedKey);
    c.outParameters(pMechanism);
    c.outHandle(phKey, newObjectHandle(c.step()));
    return c.finish();
}

CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) {
    Call c("C_DeriveKey", hSession);
    c.mechanism(pMechanism).scalar("hBaseKey", hBaseKey);
    c.tmpl("pTemplate", pTemplate, ulAttributeCount).scalar("ulAttributeCount", ulAttributeCount);
    // phKey may be NULL: some derivations return their keys in the parameters.
    c.pointer("phKey", phKey).require(pMechanism);
    c.outParameters(pMechanism);
    c.outHandle(phKey, newObjectHandle(c.step()));
    return c.finish();
}

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen) {
    Call c("C_GenerateRandom", hSession);
    c.pointer("RandomData", RandomData).scalar("ulRandomLen", ulRandomLen);
    if (ulRandomLen > 0) c.require(RandomData);
    if (c.writes()) {
        if (const std::optional<Bytes>& out = c.step().out) {
            const std::size_t n = std::min<std::size_t>(out->size(), ulRandomLen);
            if (n) std::memcpy(RandomData, out->data(), n);
        } else {
            for (CK_ULONG i = 0; i < ulRandomLen; ++i) RandomData[i] = static_cast<CK_BYTE>(i);
        }
    }
    return c.finish();
}

VTM_SESSION_ONLY(C_GetFunctionStatus)
VTM_SESSION_ONLY(C_CancelFunction)

}  // namespace vtm::entry
