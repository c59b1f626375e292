// Cryptographic operation entries. They come in five shapes, each written
// once below: initialise, transform (input and size-query output), finish
// (size-query output only), feed (input only) and the scalar C_DigestKey.
//
// Built-in outputs: transforms echo their input; C_Sign and C_SignFinal give
// 64 pattern bytes (0x00..0x3f), C_Digest and C_DigestFinal 32, C_EncryptFinal
// and C_DecryptFinal 16.
#include "entries.hpp"

#include <algorithm>

namespace vtm {

namespace {

CK_RV initialise(const char* fn, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                 const CK_OBJECT_HANDLE* hKey) {
    Call c(fn);
    c.scalar("hSession", hSession).mechanism(pMechanism).require(pMechanism);
    if (hKey) c.scalar("hKey", *hKey);
    c.notifySession(hSession);
    return c.finish();
}

/// Parameter names of a transform: input, input length, output, output length.
struct Names {
    const char* in;
    const char* inLen;
    const char* out;
    const char* outLen;
};

CK_RV transform(const char* fn, const Names& n, CK_SESSION_HANDLE hSession, CK_BYTE_PTR in, CK_ULONG inLen,
                CK_BYTE_PTR out, CK_ULONG_PTR outLen, const Bytes* fixed = nullptr) {
    Call c(fn);
    c.scalar("hSession", hSession).bytes(n.in, in, inLen).scalar(n.inLen, inLen);
    c.pointer(n.out, out).inLen(n.outLen, outLen).require(outLen);
    if (inLen > 0) c.require(in);
    if (c.writes()) c.outBytes(out, outLen, fixed ? *fixed : echo(in, inLen));
    c.notifySession(hSession);
    return c.finish();
}

CK_RV finishPart(const char* fn, const char* outName, const char* outLenName, CK_SESSION_HANDLE hSession,
                 CK_BYTE_PTR out, CK_ULONG_PTR outLen, std::size_t defaultLen) {
    Call c(fn);
    c.scalar("hSession", hSession).pointer(outName, out).inLen(outLenName, outLen).require(outLen);
    c.outBytes(out, outLen, pattern(defaultLen));
    c.notifySession(hSession);
    return c.finish();
}

CK_RV feed(const char* fn, const char* inName, const char* inLenName, CK_SESSION_HANDLE hSession, CK_BYTE_PTR in,
           CK_ULONG inLen) {
    Call c(fn);
    c.scalar("hSession", hSession).bytes(inName, in, inLen).scalar(inLenName, inLen);
    if (inLen > 0) c.require(in);
    c.notifySession(hSession);
    return c.finish();
}

const Names kPart{"pPart", "ulPartLen", "pEncryptedPart", "pulEncryptedPartLen"};
const Names kEncryptedPart{"pEncryptedPart", "ulEncryptedPartLen", "pPart", "pulPartLen"};

}  // namespace

namespace entry {

CK_RV C_EncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_EncryptInit", hSession, pMechanism, &hKey);
}

CK_RV C_Encrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pEncryptedData,
                CK_ULONG_PTR pulEncryptedDataLen) {
    return transform("C_Encrypt", {"pData", "ulDataLen", "pEncryptedData", "pulEncryptedDataLen"}, hSession, pData,
                     ulDataLen, pEncryptedData, pulEncryptedDataLen);
}

CK_RV C_EncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen, CK_BYTE_PTR pEncryptedPart,
                      CK_ULONG_PTR pulEncryptedPartLen) {
    return transform("C_EncryptUpdate", kPart, hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
}

CK_RV C_EncryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastEncryptedPart,
                     CK_ULONG_PTR pulLastEncryptedPartLen) {
    return finishPart("C_EncryptFinal", "pLastEncryptedPart", "pulLastEncryptedPartLen", hSession,
                      pLastEncryptedPart, pulLastEncryptedPartLen, 16);
}

CK_RV C_DecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_DecryptInit", hSession, pMechanism, &hKey);
}

CK_RV C_Decrypt(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedData, CK_ULONG ulEncryptedDataLen,
                CK_BYTE_PTR pData, CK_ULONG_PTR pulDataLen) {
    return transform("C_Decrypt", {"pEncryptedData", "ulEncryptedDataLen", "pData", "pulDataLen"}, hSession,
                     pEncryptedData, ulEncryptedDataLen, pData, pulDataLen);
}

CK_RV C_DecryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                      CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return transform("C_DecryptUpdate", kEncryptedPart, hSession, pEncryptedPart, ulEncryptedPartLen, pPart,
                     pulPartLen);
}

CK_RV C_DecryptFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pLastPart, CK_ULONG_PTR pulLastPartLen) {
    return finishPart("C_DecryptFinal", "pLastPart", "pulLastPartLen", hSession, pLastPart, pulLastPartLen, 16);
}

CK_RV C_DigestInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism) {
    return initialise("C_DigestInit", hSession, pMechanism, nullptr);
}

CK_RV C_Digest(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pDigest,
               CK_ULONG_PTR pulDigestLen) {
    static const Bytes digest = pattern(32);
    return transform("C_Digest", {"pData", "ulDataLen", "pDigest", "pulDigestLen"}, hSession, pData, ulDataLen,
                     pDigest, pulDigestLen, &digest);
}

CK_RV C_DigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return feed("C_DigestUpdate", "pPart", "ulPartLen", hSession, pPart, ulPartLen);
}

CK_RV C_DigestKey(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hKey) {
    return sessionAndHandle("C_DigestKey", hSession, "hKey", hKey);
}

CK_RV C_DigestFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pDigest, CK_ULONG_PTR pulDigestLen) {
    return finishPart("C_DigestFinal", "pDigest", "pulDigestLen", hSession, pDigest, pulDigestLen, 32);
}

CK_RV C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_SignInit", hSession, pMechanism, &hKey);
}

CK_RV C_Sign(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
             CK_ULONG_PTR pulSignatureLen) {
    static const Bytes signature = pattern(64);
    return transform("C_Sign", {"pData", "ulDataLen", "pSignature", "pulSignatureLen"}, hSession, pData, ulDataLen,
                     pSignature, pulSignatureLen, &signature);
}

CK_RV C_SignUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return feed("C_SignUpdate", "pPart", "ulPartLen", hSession, pPart, ulPartLen);
}

CK_RV C_SignFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return finishPart("C_SignFinal", "pSignature", "pulSignatureLen", hSession, pSignature, pulSignatureLen, 64);
}

CK_RV C_SignRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_SignRecoverInit", hSession, pMechanism, &hKey);
}

CK_RV C_SignRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
                    CK_ULONG_PTR pulSignatureLen) {
    return transform("C_SignRecover", {"pData", "ulDataLen", "pSignature", "pulSignatureLen"}, hSession, pData,
                     ulDataLen, pSignature, pulSignatureLen);
}

CK_RV C_VerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_VerifyInit", hSession, pMechanism, &hKey);
}

CK_RV C_Verify(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
               CK_ULONG ulSignatureLen) {
    Call c("C_Verify");
    c.scalar("hSession", hSession).bytes("pData", pData, ulDataLen).scalar("ulDataLen", ulDataLen);
    c.bytes("pSignature", pSignature, ulSignatureLen).scalar("ulSignatureLen", ulSignatureLen);
    if (ulDataLen > 0) c.require(pData);
    if (ulSignatureLen > 0) c.require(pSignature);
    c.notifySession(hSession);
    return c.finish();
}

CK_RV C_VerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen) {
    return feed("C_VerifyUpdate", "pPart", "ulPartLen", hSession, pPart, ulPartLen);
}

CK_RV C_VerifyFinal(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    return feed("C_VerifyFinal", "pSignature", "ulSignatureLen", hSession, pSignature, ulSignatureLen);
}

CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_VerifyRecoverInit", hSession, pMechanism, &hKey);
}

CK_RV C_VerifyRecover(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen, CK_BYTE_PTR pData,
                      CK_ULONG_PTR pulDataLen) {
    return transform("C_VerifyRecover", {"pSignature", "ulSignatureLen", "pData", "pulDataLen"}, hSession,
                     pSignature, ulSignatureLen, pData, pulDataLen);
}

CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                            CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return transform("C_DigestEncryptUpdate", kPart, hSession, pPart, ulPartLen, pEncryptedPart,
                     pulEncryptedPartLen);
}

CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                            CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return transform("C_DecryptDigestUpdate", kEncryptedPart, hSession, pEncryptedPart, ulEncryptedPartLen, pPart,
                     pulPartLen);
}

CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pPart, CK_ULONG ulPartLen,
                          CK_BYTE_PTR pEncryptedPart, CK_ULONG_PTR pulEncryptedPartLen) {
    return transform("C_SignEncryptUpdate", kPart, hSession, pPart, ulPartLen, pEncryptedPart, pulEncryptedPartLen);
}

CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE hSession, CK_BYTE_PTR pEncryptedPart, CK_ULONG ulEncryptedPartLen,
                            CK_BYTE_PTR pPart, CK_ULONG_PTR pulPartLen) {
    return transform("C_DecryptVerifyUpdate", kEncryptedPart, hSession, pEncryptedPart, ulEncryptedPartLen, pPart,
                     pulPartLen);
}

}  // namespace entry

}  // namespace vtm
