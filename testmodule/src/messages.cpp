// The other entries of version 3.0: user login, cancellation and the
// message-based functions. They record their arguments as every entry does;
// a per-message parameter is recorded as its bytes and, with `decode=`, field
// by field, and `write=<field>:<hex>` writes into the buffers it points to (a
// generated IV, a tag). Outputs: encryption and decryption echo their input,
// the signatures are 64 bytes 00..3f.
#include "entries.hpp"

#include <algorithm>

namespace vtm {

namespace {

/// Records the per-message parameter as the entry received it.
void parameter(Call& c, CK_VOID_PTR p, CK_ULONG len) {
    c.bytes("pParameter", p, len).scalar("ulParameterLen", len);
    if (!c.step().decode) return;
    const CK_MECHANISM m{0, p, len};
    decodeParameter(c, *c.step().decode, m);
}

/// Writes the step's values into the per-message parameter (as a module does
/// when it produces output, never for a size query).
void writeParameter(Call& c, CK_VOID_PTR p, CK_ULONG len) {
    if (!c.writes() || p == nullptr || !c.step().decode) return;
    for (const auto& [field, bytes] : c.step().writes) writeParameterField(*c.step().decode, p, len, field, bytes);
}

CK_RV initialise(const char* fn, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    Call c(fn);
    c.scalar("hSession", hSession).mechanism(pMechanism).require(pMechanism).scalar("hKey", hKey);
    c.notifySession(hSession);
    return c.finish();
}

/// C_EncryptMessage, C_DecryptMessage.
CK_RV whole(const char* fn, const char* in, const char* out, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,
            CK_ULONG ulParameterLen, CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen, CK_BYTE_PTR pIn,
            CK_ULONG ulInLen, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen) {
    Call c(fn);
    c.scalar("hSession", hSession).notifySession(hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pAssociatedData", pAssociatedData, ulAssociatedDataLen).scalar("ulAssociatedDataLen", ulAssociatedDataLen);
    c.bytes(in, pIn, ulInLen).scalar((std::string("ul") + (in + 1) + "Len").c_str(), ulInLen);
    c.pointer(out, pOut).inLen((std::string("pul") + (out + 1) + "Len").c_str(), pulOutLen).require(pulOutLen);
    c.outBytes(pOut, pulOutLen, echo(pIn, ulInLen));
    if (pOut != nullptr) writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_EncryptMessageBegin, C_DecryptMessageBegin.
CK_RV beginWithData(const char* fn, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                    CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen) {
    Call c(fn);
    c.scalar("hSession", hSession).notifySession(hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pAssociatedData", pAssociatedData, ulAssociatedDataLen).scalar("ulAssociatedDataLen", ulAssociatedDataLen);
    writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_EncryptMessageNext, C_DecryptMessageNext.
CK_RV next(const char* fn, const char* in, const char* out, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,
           CK_ULONG ulParameterLen, CK_BYTE_PTR pIn, CK_ULONG ulInLen, CK_BYTE_PTR pOut, CK_ULONG_PTR pulOutLen,
           CK_FLAGS flags) {
    Call c(fn);
    c.scalar("hSession", hSession).notifySession(hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes(in, pIn, ulInLen).scalar((std::string("ul") + (in + 1) + "Len").c_str(), ulInLen);
    c.pointer(out, pOut).inLen((std::string("pul") + (out + 1) + "Len").c_str(), pulOutLen).require(pulOutLen);
    c.scalar("flags", flags);
    c.outBytes(pOut, pulOutLen, echo(pIn, ulInLen));
    if (pOut != nullptr) writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_SignMessageBegin, C_VerifyMessageBegin.
CK_RV begin(const char* fn, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen) {
    Call c(fn);
    c.scalar("hSession", hSession).notifySession(hSession);
    parameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_SignMessage, C_SignMessageNext (whose pulSignatureLen may be NULL: no signature yet).
CK_RV sign(const char* fn, bool lengthRequired, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter,
           CK_ULONG ulParameterLen, CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature,
           CK_ULONG_PTR pulSignatureLen) {
    Call c(fn);
    c.scalar("hSession", hSession).notifySession(hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pData", pData, ulDataLen).scalar("ulDataLen", ulDataLen);
    c.pointer("pSignature", pSignature).inLen("pulSignatureLen", pulSignatureLen);
    if (lengthRequired) c.require(pulSignatureLen);
    c.outBytes(pSignature, pulSignatureLen, pattern(64));
    if (pSignature != nullptr || pulSignatureLen == nullptr) writeParameter(c, pParameter, ulParameterLen);
    return c.finish();
}

/// C_VerifyMessage, C_VerifyMessageNext.
CK_RV verify(const char* fn, CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
             CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    Call c(fn);
    c.scalar("hSession", hSession).notifySession(hSession);
    parameter(c, pParameter, ulParameterLen);
    c.bytes("pData", pData, ulDataLen).scalar("ulDataLen", ulDataLen);
    c.bytes("pSignature", pSignature, ulSignatureLen).scalar("ulSignatureLen", ulSignatureLen);
    return c.finish();
}

}  // namespace

namespace entry {

CK_RV C_LoginUser(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,
                  CK_UTF8CHAR_PTR pUsername, CK_ULONG ulUsernameLen) {
    Call c("C_LoginUser");
    c.scalar("hSession", hSession).scalar("userType", userType).bytes("pPin", pPin, ulPinLen);
    c.scalar("ulPinLen", ulPinLen).bytes("pUsername", pUsername, ulUsernameLen).scalar("ulUsernameLen", ulUsernameLen);
    return c.finish();
}

CK_RV C_SessionCancel(CK_SESSION_HANDLE hSession, CK_FLAGS flags) {
    Call c("C_SessionCancel");
    c.scalar("hSession", hSession).scalar("flags", flags);
    return c.finish();
}

CK_RV C_MessageEncryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_MessageEncryptInit", hSession, pMechanism, hKey);
}

CK_RV C_EncryptMessage(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                       CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen, CK_BYTE_PTR pPlaintext,
                       CK_ULONG ulPlaintextLen, CK_BYTE_PTR pCiphertext, CK_ULONG_PTR pulCiphertextLen) {
    return whole("C_EncryptMessage", "pPlaintext", "pCiphertext", hSession, pParameter, ulParameterLen,
                 pAssociatedData, ulAssociatedDataLen, pPlaintext, ulPlaintextLen, pCiphertext, pulCiphertextLen);
}

CK_RV C_EncryptMessageBegin(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                            CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen) {
    return beginWithData("C_EncryptMessageBegin", hSession, pParameter, ulParameterLen, pAssociatedData,
                         ulAssociatedDataLen);
}

CK_RV C_EncryptMessageNext(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                           CK_BYTE_PTR pPlaintextPart, CK_ULONG ulPlaintextPartLen, CK_BYTE_PTR pCiphertextPart,
                           CK_ULONG_PTR pulCiphertextPartLen, CK_FLAGS flags) {
    return next("C_EncryptMessageNext", "pPlaintextPart", "pCiphertextPart", hSession, pParameter, ulParameterLen,
                pPlaintextPart, ulPlaintextPartLen, pCiphertextPart, pulCiphertextPartLen, flags);
}

CK_RV C_MessageEncryptFinal(CK_SESSION_HANDLE hSession) { return sessionOnly("C_MessageEncryptFinal", hSession); }

CK_RV C_MessageDecryptInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_MessageDecryptInit", hSession, pMechanism, hKey);
}

CK_RV C_DecryptMessage(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                       CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen, CK_BYTE_PTR pCiphertext,
                       CK_ULONG ulCiphertextLen, CK_BYTE_PTR pPlaintext, CK_ULONG_PTR pulPlaintextLen) {
    return whole("C_DecryptMessage", "pCiphertext", "pPlaintext", hSession, pParameter, ulParameterLen,
                 pAssociatedData, ulAssociatedDataLen, pCiphertext, ulCiphertextLen, pPlaintext, pulPlaintextLen);
}

CK_RV C_DecryptMessageBegin(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                            CK_BYTE_PTR pAssociatedData, CK_ULONG ulAssociatedDataLen) {
    return beginWithData("C_DecryptMessageBegin", hSession, pParameter, ulParameterLen, pAssociatedData,
                         ulAssociatedDataLen);
}

CK_RV C_DecryptMessageNext(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                           CK_BYTE_PTR pCiphertextPart, CK_ULONG ulCiphertextPartLen, CK_BYTE_PTR pPlaintextPart,
                           CK_ULONG_PTR pulPlaintextPartLen, CK_FLAGS flags) {
    return next("C_DecryptMessageNext", "pCiphertextPart", "pPlaintextPart", hSession, pParameter, ulParameterLen,
                pCiphertextPart, ulCiphertextPartLen, pPlaintextPart, pulPlaintextPartLen, flags);
}

CK_RV C_MessageDecryptFinal(CK_SESSION_HANDLE hSession) { return sessionOnly("C_MessageDecryptFinal", hSession); }

CK_RV C_MessageSignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_MessageSignInit", hSession, pMechanism, hKey);
}

CK_RV C_SignMessage(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen, CK_BYTE_PTR pData,
                    CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return sign("C_SignMessage", true, hSession, pParameter, ulParameterLen, pData, ulDataLen, pSignature,
                pulSignatureLen);
}

CK_RV C_SignMessageBegin(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen) {
    return begin("C_SignMessageBegin", hSession, pParameter, ulParameterLen);
}

CK_RV C_SignMessageNext(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                        CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG_PTR pulSignatureLen) {
    return sign("C_SignMessageNext", false, hSession, pParameter, ulParameterLen, pData, ulDataLen, pSignature,
                pulSignatureLen);
}

CK_RV C_MessageSignFinal(CK_SESSION_HANDLE hSession) { return sessionOnly("C_MessageSignFinal", hSession); }

CK_RV C_MessageVerifyInit(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hKey) {
    return initialise("C_MessageVerifyInit", hSession, pMechanism, hKey);
}

CK_RV C_VerifyMessage(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen, CK_BYTE_PTR pData,
                      CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    return verify("C_VerifyMessage", hSession, pParameter, ulParameterLen, pData, ulDataLen, pSignature,
                  ulSignatureLen);
}

CK_RV C_VerifyMessageBegin(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen) {
    return begin("C_VerifyMessageBegin", hSession, pParameter, ulParameterLen);
}

CK_RV C_VerifyMessageNext(CK_SESSION_HANDLE hSession, CK_VOID_PTR pParameter, CK_ULONG ulParameterLen,
                          CK_BYTE_PTR pData, CK_ULONG ulDataLen, CK_BYTE_PTR pSignature, CK_ULONG ulSignatureLen) {
    return verify("C_VerifyMessageNext", hSession, pParameter, ulParameterLen, pData, ulDataLen, pSignature,
                  ulSignatureLen);
}

CK_RV C_MessageVerifyFinal(CK_SESSION_HANDLE hSession) { return sessionOnly("C_MessageVerifyFinal", hSession); }

}  // namespace entry

}  // namespace vtm
